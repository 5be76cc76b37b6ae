// The monitor program's settings file, as this tool prepares it for a demonstration: the
// sections "ComPort GPS" and "ComPort AIS" with the keys ComNb, BaudRate, DataBits,
// StopBits and Parity.
//
// TIniText follows the file's rules: section and key names match whatever their letter
// case, blanks around a name or a value are not part of it, a written key replaces its
// value where it stands, a missing key goes at the end of its section, a missing section
// at the end of the file, every other line is kept, and every line ends with CR LF.
//
// Threads: plain values and functions, no shared state.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TIniText {
public:
    explicit TIniText(std::string_view text = {});

    void WriteValue(const std::string& section, const std::string& key, const std::string& value);
    // The whole text, every line ended by CR LF.
    std::string Text() const;

private:
    std::vector<std::string> fLines; // without their line ends
};

struct TPortSettings {
    unsigned ComNb = 0;
    unsigned BaudRate = 0;
    int DataBits = 8;
    int StopBits = 1; // 1, or 2 for anything longer than one stop bit
    int Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
};

// Writes the first entry as the GPS channel and the second as the AIS channel into the
// settings file at `path`, creating it when missing (through a temporary file and a rename).
void WritePortSettingsFile(const std::string& path, const std::vector<TPortSettings>& channels);
