// The line settings of a pseudo-terminal as the kernel holds them, read from the master
// side with termios2 (the only interface that reports any baud rate).
//
// The pty driver forces 8 data bits and no parity enable on the pair whatever is set, so
// those two can't be checked through a pseudo-terminal; everything else travels.
#pragma once

#include <cstdint>

struct TPtyLineState {
    std::uint32_t BaudRate = 0;
    bool TwoStopBits = false;
    bool RtsCtsFlow = false;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool ParityOdd = false;
    bool ParityStick = false; // mark or space
    bool Raw = false;         // no canonical input, no echo, no output processing
};

// False with errno set when the termios could not be read.
bool ReadPtyLineState(int fd, TPtyLineState& state);
