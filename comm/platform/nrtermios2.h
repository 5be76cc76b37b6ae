// Line settings of a tty through the kernel's termios2 interface.
//
//   ApplyDcbToTty     a device control block -> the tty's termios (raw mode, any baud rate)
//   ReadDcbFromTty    the tty's termios -> the fields of a device control block it carries
//   SaveTtyState      the whole termios, to put back on close (RestoreTtyState)
//   DcbToTermios, TermiosToDcb   the same translations without a tty
//   ReadTtyBaudRate   the output speed in bits per second
//
// termios2 is the only way to set a baud rate that is not one of the Bxxx constants
// (31250 for MIDI, 250000 for DMX, odd GPS rates): BOTHER plus c_ispeed/c_ospeed. Its
// declarations come from <asm/termbits.h>, which redefines struct termios and every flag
// of glibc's <termios.h>; the two can't meet in one translation unit. So this header
// exposes nothing of either and nrtermios2.cpp is the only file that includes the
// kernel's.
//
// Every function sets errno and returns false on failure.
//
// Threads: the functions keep no state; callers serialise calls on the same fd.
#pragma once

#include "nrserialapi.h"

#include <cstdint>

// The kernel's struct termios2, field for field, so that code outside nrtermios2.cpp can
// hold and compare one without the kernel's header (nrtermios2.cpp checks the layout).
struct TnrTermios {
    std::uint32_t c_iflag = 0;
    std::uint32_t c_oflag = 0;
    std::uint32_t c_cflag = 0;
    std::uint32_t c_lflag = 0;
    std::uint8_t c_line = 0;
    std::uint8_t c_cc[19] = {};
    std::uint32_t c_ispeed = 0;
    std::uint32_t c_ospeed = 0;
};

struct TnrSavedTermios {
    TnrTermios Termios;
    bool Valid = false;
};

// Puts the tty in raw mode with the DCB's line settings:
//   BaudRate           any rate (BOTHER when it is not a standard one)
//   ByteSize           5..8 (CS5..CS8); anything else fails with EINVAL
//   Parity             none / odd / even / mark / space (PARENB, PARODD, CMSPAR). Received
//                      bytes are never altered for parity errors (no INPCK): the errors are
//                      counted by the driver and reported by the error query instead.
//   StopBits           one (CSTOPB off); two (CSTOPB); one and a half: CSTOPB, which a
//                      UART sends as 1.5 stop bits with 5 data bits and as 2 otherwise -
//                      a receiver set to 1.5 still reads it.
//   fOutxCtsFlow or RTS handshake    CRTSCTS (the kernel has one switch for both ways)
//   fOutX / fInX       IXON / IXOFF with XonChar and XoffChar as VSTART and VSTOP
// DTR, RTS, DSR flow and the error-replacement options are not termios matters.
bool ApplyDcbToTty(int fd, const TDCB& dcb);
// The translation alone: changes `t` as ApplyDcbToTty would change the tty's termios.
// Some drivers keep only part of it (a pseudo-terminal forces CS8 and no parity).
bool DcbToTermios(const TDCB& dcb, TnrTermios& t);

// Fills BaudRate, ByteSize, Parity, StopBits, XonChar, XoffChar and the flow-control and
// fParity bits of Flags from the tty; other fields keep their values.
bool ReadDcbFromTty(int fd, TDCB& dcb);
void TermiosToDcb(const TnrTermios& t, TDCB& dcb);

bool ReadTtyBaudRate(int fd, std::uint32_t& baud);

bool SaveTtyState(int fd, TnrSavedTermios& saved);
bool RestoreTtyState(int fd, const TnrSavedTermios& saved);
