// Line settings as the tty really holds them, read from the master side of a
// pseudo-terminal (on Linux its termios requests reach the slave's settings).
//
// This file uses the kernel's termios2 declarations to look at the result independently
// of the code under test, so it must not include <termios.h>.
#include "platform/nrerror.h"
#include "platform/nrposixport.h"
#include "platform/nrtermios2.h"
#include "ptypair.h"
#include "testenv.h"

#include <QStringList>
#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

namespace {

termios2 MasterView(const TPtyPair& pty) {
    termios2 t{};
    EXPECT_EQ(ioctl(pty.MasterFd(), TCGETS2, &t), 0);
    return t;
}

class LineSettings : public ::testing::Test {
protected:
    void SetUp() override {
        TTestEnvironment::WritePortMap({QStringLiteral("COM202 = ") + fPty.SlavePath()});
        fHandle = OpenPortByName(QStringLiteral("COM202"));
        ASSERT_NE(fHandle, INVALID_HANDLE_VALUE) << SysErrorMessage(GetLastError()).toStdString();
        ASSERT_TRUE(GetCommState(fHandle, fDcb));
    }
    void TearDown() override { CloseHandle(fHandle); }

    termios2 Apply() {
        EXPECT_TRUE(SetCommState(fHandle, fDcb)) << SysErrorMessage(GetLastError()).toStdString();
        return MasterView(fPty);
    }

    TPtyPair fPty;
    THandle fHandle = INVALID_HANDLE_VALUE;
    TDCB fDcb;
};

TEST_F(LineSettings, AnyBaudRateReachesTheTty) {
    for (std::uint32_t baud : {4800u, 38400u, 115200u}) {
        fDcb.BaudRate = baud;
        const termios2 t = Apply();
        EXPECT_EQ(t.c_ospeed, baud);
        EXPECT_EQ(t.c_ispeed, baud);
        EXPECT_NE(t.c_cflag & CBAUD, tcflag_t(BOTHER)) << baud << " is a standard rate";
    }
    // Rates without a Bxxx constant (MIDI, DMX, an odd receiver) go through BOTHER.
    for (std::uint32_t baud : {31250u, 250000u, 4801u}) {
        fDcb.BaudRate = baud;
        const termios2 t = Apply();
        EXPECT_EQ(t.c_ospeed, baud);
        EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t(BOTHER));
    }
    std::uint32_t baud = 0;
    ASSERT_TRUE(ReadTtyBaudRate(fPty.MasterFd(), baud));
    EXPECT_EQ(baud, 4801u);
}

// A pseudo-terminal keeps only part of the frame format (it forces CS8 and clears
// PARENB), so the translation is checked on its own for every data size and parity, and
// on the tty for what the tty keeps.
TEST(LineTranslation, DataBitsParityAndStopBits) {
    TDCB dcb = GetDefaultCommConfig().dcb;
    TnrTermios t;
    const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    for (std::uint8_t bits = 5; bits <= 8; ++bits) {
        dcb.ByteSize = bits;
        ASSERT_TRUE(DcbToTermios(dcb, t));
        EXPECT_EQ(t.c_cflag & CSIZE, sizes[bits - 5]);
        TDCB back;
        TermiosToDcb(t, back);
        EXPECT_EQ(back.ByteSize, bits);
    }
    struct {
        std::uint8_t Parity;
        tcflag_t Flags;
    } const parities[] = {{NOPARITY, 0},
                          {ODDPARITY, PARENB | PARODD},
                          {EVENPARITY, PARENB},
                          {MARKPARITY, PARENB | PARODD | CMSPAR},
                          {SPACEPARITY, PARENB | CMSPAR}};
    for (const auto& p : parities) {
        dcb.Parity = p.Parity;
        ASSERT_TRUE(DcbToTermios(dcb, t));
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), p.Flags) << int(p.Parity);
        // Received bytes are never replaced or dropped for a parity error.
        EXPECT_FALSE(t.c_iflag & (INPCK | PARMRK | IGNPAR));
        TDCB back;
        TermiosToDcb(t, back);
        EXPECT_EQ(back.Parity, p.Parity);
        EXPECT_EQ(bool(back.Flags & DCB_fParity), p.Parity != NOPARITY);
    }
    dcb.Parity = NOPARITY;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(DcbToTermios(dcb, t));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(DcbToTermios(dcb, t));
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    // One and a half: CSTOPB, which the UART sends as 1.5 with 5-bit words.
    dcb.ByteSize = 5;
    dcb.StopBits = ONE5STOPBITS;
    ASSERT_TRUE(DcbToTermios(dcb, t));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    TDCB back;
    TermiosToDcb(t, back);
    EXPECT_EQ(back.StopBits, ONE5STOPBITS);
    dcb.ByteSize = 8;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(DcbToTermios(dcb, t));
    TermiosToDcb(t, back);
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);

    // Refused outright, leaving the termios as it was.
    const TnrTermios before = t;
    for (auto change :
         {+[](TDCB& d) { d.ByteSize = 4; }, +[](TDCB& d) { d.ByteSize = 9; }, +[](TDCB& d) { d.Parity = 5; },
          +[](TDCB& d) { d.StopBits = 3; }, +[](TDCB& d) { d.BaudRate = 0; }}) {
        TDCB bad = dcb;
        change(bad);
        errno = 0;
        EXPECT_FALSE(DcbToTermios(bad, t));
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(std::memcmp(&before, &t, sizeof t), 0);
    }
}

TEST_F(LineSettings, StopBitsAndStickParityReachTheTty) {
    fDcb.StopBits = TWOSTOPBITS;
    fDcb.Parity = MARKPARITY;
    termios2 t = Apply();
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), tcflag_t(PARODD | CMSPAR));
    fDcb.StopBits = ONESTOPBIT;
    fDcb.Parity = SPACEPARITY;
    t = Apply();
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), tcflag_t(CMSPAR));
}

TEST_F(LineSettings, FlowControlAndRawMode) {
    fDcb.Flags = DCB_fBinary | DCB_fOutxCtsFlow | DCB_fDtrControlEnable | DCB_fRtsControlHandshake;
    termios2 t = Apply();
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));

    fDcb.Flags = DCB_fBinary | DCB_fOutX | DCB_fInX | DCB_fDtrControlEnable | DCB_fRtsControlEnable;
    fDcb.XonChar = 0x11;
    fDcb.XoffChar = 0x13;
    t = Apply();
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    TDCB back;
    ASSERT_TRUE(ReadDcbFromTty(fPty.MasterFd(), back));
    EXPECT_EQ(back.Flags & (DCB_fOutX | DCB_fInX | DCB_fOutxCtsFlow), DCB_fOutX | DCB_fInX);

    fDcb.Flags = DCB_fBinary | DCB_fDtrControlEnable | DCB_fRtsControlEnable;
    t = Apply();
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_TRUE(t.c_cflag & CREAD);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
}

TEST_F(LineSettings, ImpossibleSettingsAreRefusedAndChangeNothing) {
    fDcb.BaudRate = 9600;
    Apply();
    TDCB bad = fDcb;
    bad.ByteSize = 4; // no UART of Linux speaks 4-bit words
    bad.BaudRate = 1200;
    EXPECT_FALSE(SetCommState(fHandle, bad));
    EXPECT_EQ(GetLastError(), std::uint32_t(EINVAL));
    bad = fDcb;
    bad.BaudRate = 0;
    EXPECT_FALSE(SetCommState(fHandle, bad));
    bad = fDcb;
    bad.Parity = 5;
    EXPECT_FALSE(SetCommState(fHandle, bad));
    EXPECT_EQ(MasterView(fPty).c_ospeed, 9600u);
    TDCB current;
    ASSERT_TRUE(GetCommState(fHandle, current));
    EXPECT_EQ(current.BaudRate, 9600u);
    EXPECT_EQ(current.ByteSize, fDcb.ByteSize);
}

TEST_F(LineSettings, StateReadsBackWhatWasApplied) {
    fDcb.BaudRate = 38400;
    fDcb.EvtChar = '\n';
    fDcb.XonLim = 80;
    fDcb.XoffLim = 200;
    Apply();
    TDCB back;
    ASSERT_TRUE(GetCommState(fHandle, back));
    EXPECT_EQ(back.BaudRate, 38400u);
    EXPECT_EQ(back.EvtChar, '\n');
    EXPECT_EQ(back.XonLim, 80);
    EXPECT_EQ(back.XoffLim, 200);
}

TEST(LineSettingsRestore, CloseGivesTheTtyItsFormerSettingsBack) {
    TPtyPair pty;
    termios2 before = MasterView(pty);
    before.c_cflag = (before.c_cflag & ~tcflag_t(CBAUD)) | B1200 | CSTOPB;
    before.c_ospeed = before.c_ispeed = 1200;
    before.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(ioctl(pty.MasterFd(), TCSETS2, &before), 0);

    TTestEnvironment::WritePortMap({QStringLiteral("COM203 = ") + pty.SlavePath()});
    const THandle h = OpenPortByName(QStringLiteral("COM203"));
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // Open keeps the line settings it found but switches to raw at once.
    termios2 open = MasterView(pty);
    EXPECT_EQ(open.c_ospeed, 1200u);
    EXPECT_TRUE(open.c_cflag & CSTOPB);
    EXPECT_FALSE(open.c_lflag & (ICANON | ECHO));
    TDCB dcb;
    ASSERT_TRUE(GetCommState(h, dcb));
    EXPECT_EQ(dcb.BaudRate, 1200u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    dcb.BaudRate = 57600;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(h, dcb));
    ASSERT_TRUE(CloseHandle(h));

    const termios2 after = MasterView(pty);
    EXPECT_EQ(after.c_ospeed, 1200u);
    EXPECT_TRUE(after.c_cflag & CSTOPB);
    EXPECT_EQ(after.c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
}

} // namespace
