// <asm/termbits.h> redefines glibc's termios: this file includes nothing of <termios.h>.
#include "ptylinestate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

bool ReadPtyLineState(int fd, TPtyLineState& state) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    state.BaudRate = t.c_ospeed;
    state.TwoStopBits = t.c_cflag & CSTOPB;
    state.RtsCtsFlow = t.c_cflag & CRTSCTS;
    state.XonXoffOut = t.c_iflag & IXON;
    state.XonXoffIn = t.c_iflag & IXOFF;
    state.ParityOdd = t.c_cflag & PARODD;
    state.ParityStick = t.c_cflag & CMSPAR;
    state.Raw = !(t.c_lflag & (ICANON | ECHO)) && !(t.c_oflag & OPOST);
    return true;
}
