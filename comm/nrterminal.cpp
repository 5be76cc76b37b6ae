#include "nrterminal.h"

#include "nrbaseio.h"
#include "nrcodepage.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QThread>
#include <mutex>

TnrTerminalHook::TnrTerminalHook(TnrBaseIO* port, QWidget* edit) : fPort(port), fEdit(edit) {
    edit->installEventFilter(this);
}

TnrTerminalHook::~TnrTerminalHook() {
    if (fEdit)
        fEdit->removeEventFilter(this);
}

bool TnrTerminalHook::eventFilter(QObject* watched, QEvent* event) {
    if (watched != fEdit || event->type() != QEvent::KeyPress || fPort->fTerminalLocked)
        return QObject::eventFilter(watched, event);
    const TTerminalUsage usage = fPort->TerminalUsage();
    if (usage != tuSend && usage != tuBoth)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // Only keys that produce a character are sent; Return and Backspace produce CR and BS.
    // Delete edits the text (some platforms give it the text DEL): it is no character.
    if (key->key() == Qt::Key_Delete)
        return false;
    QString text = key->text();
    if (text.isEmpty()) {
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            text = QStringLiteral("\r");
        else if (key->key() == Qt::Key_Backspace)
            text = QStringLiteral("\b");
        else
            return false;
    }
    fPort->SendChar(CharToAnsi(text.at(0)));
    return !fPort->TerminalEcho();
}

namespace {

// Orders posting a chunk and writing it for race checkers, which don't see into Qt's
// event queue.
std::mutex& HandOffLock() {
    static std::mutex lock;
    return lock;
}

} // namespace

void TnrTerminalHook::WriteReceived(const std::uint8_t* data, std::uint32_t size) {
    if (QThread::currentThread() != thread()) {
        // A port that processes its events on its message thread: the edit may only be
        // changed on its own thread. The chunk is copied (the port reuses its buffer at
        // once) and written there in arrival order; a hook destroyed first drops it.
        const QByteArray chunk(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
        std::lock_guard posting(HandOffLock());
        QMetaObject::invokeMethod(
            this,
            [this, chunk] {
                { std::lock_guard visible(HandOffLock()); }
                Write(reinterpret_cast<const std::uint8_t*>(chunk.constData()),
                      static_cast<std::uint32_t>(chunk.size()));
            },
            Qt::QueuedConnection);
        return;
    }
    Write(data, size);
}

void TnrTerminalHook::Write(const std::uint8_t* data, std::uint32_t size) {
    fPort->fTerminalLocked = true;
    struct Unlock {
        TnrBaseIO* port;
        ~Unlock() { port->fTerminalLocked = false; }
    } unlock{fPort};

    QWidget* target = fPort->hTerminal;
    if (!target || !fEdit)
        return;
    if (size == 1) {
        const std::uint8_t byte = data[0];
        // A key press of CR breaks the line; an LF that follows in the next chunk is the
        // rest of the same line end.
        fAfterCR = byte == 13;
        int key = 0;
        QString text(AnsiToChar(byte));
        if (byte == 8)
            key = Qt::Key_Backspace;
        else if (byte == 13)
            key = Qt::Key_Return;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QCoreApplication::sendEvent(target, &press);
        return;
    }
    std::uint32_t start = 0;
    for (std::uint32_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            if (i > start)
                InsertText(AnsiToUnicode(reinterpret_cast<const char*>(data + start), i - start));
            start = i + 1;
        }
    }
}

void TnrTerminalHook::InsertText(const QString& text) {
    if (auto* line = qobject_cast<QLineEdit*>(fEdit)) {
        line->insert(text);
        return;
    }
    // A multi-line edit breaks the line at CR LF, as at a lone CR or LF. A CR LF split
    // between two chunks (or two runs) is one line end too: the LF after a CR that ended
    // the text before is dropped.
    QString lines = text;
    if (fAfterCR && lines.startsWith(QLatin1Char('\n')))
        lines.remove(0, 1);
    fAfterCR = lines.endsWith(QLatin1Char('\r'));
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (auto* plain = qobject_cast<QPlainTextEdit*>(fEdit))
        plain->insertPlainText(lines);
    else if (auto* rich = qobject_cast<QTextEdit*>(fEdit))
        rich->insertPlainText(lines);
}
