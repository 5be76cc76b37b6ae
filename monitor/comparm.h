// TComParm: one channel's port parameters (port number and line settings), its one-line
// text form, and the two copies between a record and a serial port component.
//
//   ComParmText(rec)          "Com3, 4800, None, 8, One", or "No port selected" for port 0
//   CopyComponentToRecord     the component's settings into the record (reads only)
//   CopyRecordToComponent     the record into the component; never touches Active, so an
//                             open port is closed and reopened on the record's port while
//                             a closed one only stores the values
//
// The main window's SetComString, SetComportRec and GetComportRec are these three.
//
// Threads: a plain value; the copies run on the component's thread (the user-interface
// thread).
#pragma once

#include "nrcomm.h"

#include <QString>
#include <cstdint>

struct TComParm {
    std::uint16_t RComNumber = 0; // 1 is COM1; 0 means no port
    TParity RParity = pNone;      // an ordinal; values above pSpace may come from the settings file
    std::uint16_t RDataBits = 0;
    TStopBits RStopBits = sbOne;
    std::int32_t RBaud = 0;

    friend bool operator==(const TComParm&, const TComParm&) = default;
};

QString ComParmText(TComParm ComRec);
void CopyComponentToRecord(const TnrComm* ComP, TComParm& ComRec);
void CopyRecordToComponent(TnrComm* ComP, TComParm ComRec);
