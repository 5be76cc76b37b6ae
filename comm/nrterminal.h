// TnrTerminalHook: ties a port to a terminal edit (QLineEdit, QPlainTextEdit or QTextEdit).
//
// The hook is an event filter on the edit, so it sees key input before the edit does: a
// typed character is sent through the port's SendChar when the terminal usage sends
// (tuSend, tuBoth), and reaches the edit only with TerminalEcho. Received text is written
// by WriteReceived: a one-byte chunk acts as a key press (backspace deletes, carriage
// return breaks the line of a multi-line edit), a longer chunk is inserted at the caret
// in the port's code page, split at zero bytes; in a multi-line edit CR LF, CR and LF
// each break the line once, also when a CR LF pair is split between two chunks. Typed
// keys that produce no character (arrows, Delete) stay with the edit. Received text is
// never sent back out.
//
// Threads: the hook is created, used and destroyed on the user-interface thread, where the
// edit lives. WriteReceived may also be called on a port's message thread (UseMainThread
// false): the chunk is then copied and written on the user-interface thread, in order.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>

class TnrBaseIO;

class TnrTerminalHook : public QObject {
    Q_OBJECT
public:
    TnrTerminalHook(TnrBaseIO* port, QWidget* edit);
    // Removes the filter from the edit, unless the edit is gone (Forget).
    ~TnrTerminalHook() override;

    void WriteReceived(const std::uint8_t* data, std::uint32_t size);
    // The edit is being destroyed: don't touch it any more.
    void Forget() { fEdit = nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Write(const std::uint8_t* data, std::uint32_t size);
    void InsertText(const QString& text);

    TnrBaseIO* fPort;
    QPointer<QWidget> fEdit;
    // The last received text ended with CR (a multi-line edit has broken the line).
    bool fAfterCR = false;
};
