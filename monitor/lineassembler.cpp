#include "lineassembler.h"

#include "nrcodepage.h"

QString TLineAssembler::PendingText() const {
    return AnsiToUnicode(fPending);
}
