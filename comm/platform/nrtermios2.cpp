// The one translation unit of the project that includes <asm/termbits.h>: it declares
// struct termios2 and BOTHER, and clashes with glibc's <termios.h> (same struct and macro
// names, different layouts). Never include <termios.h> here, directly or through another
// header.
#include "nrtermios2.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/ioctl.h>
#include <type_traits>

static_assert(sizeof(termios2) == sizeof(TnrTermios), "TnrTermios mirrors termios2");
static_assert(offsetof(termios2, c_cc) == offsetof(TnrTermios, c_cc), "TnrTermios mirrors termios2");
static_assert(offsetof(termios2, c_ispeed) == offsetof(TnrTermios, c_ispeed), "TnrTermios mirrors termios2");
static_assert(offsetof(termios2, c_ospeed) == offsetof(TnrTermios, c_ospeed), "TnrTermios mirrors termios2");
static_assert(sizeof(termios2::c_cc) == sizeof(TnrTermios::c_cc), "TnrTermios mirrors termios2");

namespace {

struct TStandardRate {
    std::uint32_t Rate;
    unsigned int Code;
};

// Standard rates keep their Bxxx code, so tools like stty show them as usual; every other
// rate goes through BOTHER.
constexpr TStandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

unsigned int SpeedCode(std::uint32_t rate) {
    for (const TStandardRate& r : kStandardRates)
        if (r.Rate == rate) return r.Code;
    return BOTHER;
}

bool GetTermios2(int fd, termios2& t) {
    return ioctl(fd, TCGETS2, &t) == 0;
}

termios2 ToKernel(const TnrTermios& from) {
    termios2 t;
    std::memcpy(&t, &from, sizeof t);
    return t;
}

TnrTermios FromKernel(const termios2& from) {
    TnrTermios t;
    static_assert(std::is_trivially_copyable_v<TnrTermios>);
    std::memcpy(static_cast<void*>(&t), &from, sizeof t);
    return t;
}

} // namespace

bool DcbToTermios(const TDCB& dcb, TnrTermios& to) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS) {
        errno = EINVAL;
        return false;
    }
    termios2 t = ToKernel(to);

    // Raw: no line editing, no echo, no signals, no translation of CR/LF, no output
    // processing. A break reads as a 0 byte and is counted by the driver.
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                           IMAXBEL | INPCK | IGNPAR | IUCLC);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | NOFLSH | TOSTOP);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    // CLOCAL: the port is usable whatever the carrier line says.
    t.c_cflag &= ~tcflag_t(CBAUD | CIBAUD | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;

    // CIBAUD stays 0: the input speed follows the output speed.
    t.c_cflag |= SpeedCode(dcb.BaudRate);
    t.c_ispeed = dcb.BaudRate;
    t.c_ospeed = dcb.BaudRate;

    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[dcb.ByteSize - 5];

    switch (dcb.Parity) {
    case NOPARITY:
        break;
    case ODDPARITY:
        t.c_cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        t.c_cflag |= PARENB;
        break;
    // Stick parity: with CMSPAR, PARODD selects mark (1) and its absence space (0).
    case MARKPARITY:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SPACEPARITY:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    }

    if (dcb.StopBits != ONESTOPBIT) t.c_cflag |= CSTOPB;

    if ((dcb.Flags & DCB_fOutxCtsFlow) || (dcb.Flags & DCB_fRtsControlMask) == DCB_fRtsControlHandshake)
        t.c_cflag |= CRTSCTS;
    if (dcb.Flags & DCB_fOutX) t.c_iflag |= IXON;
    if (dcb.Flags & DCB_fInX) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);

    to = FromKernel(t);
    return true;
}

bool ApplyDcbToTty(int fd, const TDCB& dcb) {
    termios2 t;
    if (!GetTermios2(fd, t)) return false;
    TnrTermios translated = FromKernel(t);
    if (!DcbToTermios(dcb, translated)) return false;
    t = ToKernel(translated);
    return ioctl(fd, TCSETS2, &t) == 0;
}

void TermiosToDcb(const TnrTermios& from, TDCB& dcb) {
    const termios2 t = ToKernel(from);
    dcb.BaudRate = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        dcb.Parity = NOPARITY;
    else if (t.c_cflag & CMSPAR)
        dcb.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        dcb.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    // What a UART sends with CSTOPB: 1.5 stop bits for 5-bit words, else 2.
    if (!(t.c_cflag & CSTOPB))
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;

    dcb.Flags &= ~(DCB_fParity | DCB_fOutxCtsFlow | DCB_fRtsControlMask | DCB_fOutX | DCB_fInX);
    dcb.Flags |= DCB_fBinary;
    if (t.c_cflag & PARENB) dcb.Flags |= DCB_fParity;
    if (t.c_cflag & CRTSCTS)
        dcb.Flags |= DCB_fOutxCtsFlow | DCB_fRtsControlHandshake;
    else
        dcb.Flags |= DCB_fRtsControlEnable;
    if (t.c_iflag & IXON) dcb.Flags |= DCB_fOutX;
    if (t.c_iflag & IXOFF) dcb.Flags |= DCB_fInX;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

bool ReadDcbFromTty(int fd, TDCB& dcb) {
    termios2 t;
    if (!GetTermios2(fd, t)) return false;
    TermiosToDcb(FromKernel(t), dcb);
    return true;
}

bool ReadTtyBaudRate(int fd, std::uint32_t& baud) {
    termios2 t;
    if (!GetTermios2(fd, t)) return false;
    baud = t.c_ospeed;
    return true;
}

bool SaveTtyState(int fd, TnrSavedTermios& saved) {
    termios2 t;
    saved.Valid = false;
    if (!GetTermios2(fd, t)) return false;
    saved.Termios = FromKernel(t);
    saved.Valid = true;
    return true;
}

bool RestoreTtyState(int fd, const TnrSavedTermios& saved) {
    if (!saved.Valid) {
        errno = EINVAL;
        return false;
    }
    termios2 t = ToKernel(saved.Termios);
    return ioctl(fd, TCSETS2, &t) == 0;
}
