#include "lineformat.h"

#include "replayerror.h"

TLineFormat TLineFormat::Parse(std::string_view text) {
    const auto bad = [&]() {
        return TUsageError("line format '" + std::string(text) +
                           "' is not data bits 5-8, parity N/O/E/M/S and stop bits 1, 1.5 or 2 (e.g. 8N1)");
    };
    if (text.size() < 3 || text[0] < '5' || text[0] > '8') throw bad();
    TLineFormat format;
    format.fDataBits = text[0] - '0';
    switch (text[1]) {
    case 'N':
    case 'n':
        format.fParity = pNone;
        break;
    case 'O':
    case 'o':
        format.fParity = pOdd;
        break;
    case 'E':
    case 'e':
        format.fParity = pEven;
        break;
    case 'M':
    case 'm':
        format.fParity = pMark;
        break;
    case 'S':
    case 's':
        format.fParity = pSpace;
        break;
    default:
        throw bad();
    }
    const std::string_view stop = text.substr(2);
    if (stop == "1")
        format.fStopHalfBits = 2;
    else if (stop == "1.5")
        format.fStopHalfBits = 3;
    else if (stop == "2")
        format.fStopHalfBits = 4;
    else
        throw bad();
    return format;
}

double TLineFormat::BitsPerChar() const {
    return 1.0 + fDataBits + (fParity == pNone ? 0 : 1) + fStopHalfBits / 2.0;
}
