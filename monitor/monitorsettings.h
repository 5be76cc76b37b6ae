// The two channels' port settings in the settings file: sections "ComPort GPS" and
// "ComPort AIS", keys ComNb, BaudRate, DataBits, StopBits and Parity.
//
// Reading gives each value to the port component right after it is read (a missing or
// non-integer value gives the key's default); writing takes each value from the component
// at the moment it is written. The file holds the number of stop bits (1 or 2), not the
// enumeration's ordinal: only 1 reads back as one stop bit.
//
// Threads: user-interface thread (the components' thread).
#pragma once

#include "nrcomm.h"
#include "settingsfile.h"

#include <QString>
#include <cstdint>

inline const QString kSectionGPS = QStringLiteral("ComPort GPS");
inline const QString kSectionAIS = QStringLiteral("ComPort AIS");
inline constexpr std::uint32_t kDefaultBaudGPS = 4800;
inline constexpr std::uint32_t kDefaultBaudAIS = 38400;

void ReadPortSettings(const TIniFile& ini, const QString& section, std::uint32_t defaultBaud, TnrComm* com);
void WritePortSettings(TIniFile& ini, const QString& section, const TnrComm* com);
