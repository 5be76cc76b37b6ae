// TLineFormat: a serial character frame written the usual way, "8N1", "7E1", "8N2",
// "5N1.5": data bits (5-8), parity (N none, O odd, E even, M mark, S space) and stop
// bits (1, 1.5 or 2).
//
// Threads: a plain value.
#pragma once

#include <string>
#include <string_view>

class TLineFormat {
public:
    // Parity in the order the program's settings file numbers it (0 none .. 4 space).
    enum TParity { pNone = 0, pOdd = 1, pEven = 2, pMark = 3, pSpace = 4 };

    // Throws TUsageError for text that is not a frame description.
    static TLineFormat Parse(std::string_view text);

    int DataBits() const { return fDataBits; }
    TParity Parity() const { return fParity; }
    // Stop bits in halves: 2 = one, 3 = one and a half, 4 = two.
    int StopHalfBits() const { return fStopHalfBits; }
    // Bit times one character takes on the wire: start + data + parity + stop.
    double BitsPerChar() const;

private:
    int fDataBits = 8;
    TParity fParity = pNone;
    int fStopHalfBits = 2;
};
