#include "nrterminal.h"

#include "nrbaseio.h"
#include "nrcodepage.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

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

void TnrTerminalHook::WriteReceived(const std::uint8_t* data, std::uint32_t size) {
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
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(fEdit)) {
        // A multi-line edit breaks the line at CR LF, as at a lone CR or LF.
        QString lines = text;
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
        plain->insertPlainText(lines);
    } else if (auto* rich = qobject_cast<QTextEdit*>(fEdit)) {
        QString lines = text;
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
        rich->insertPlainText(lines);
    }
}
