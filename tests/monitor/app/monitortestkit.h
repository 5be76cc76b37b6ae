// What the window tests share: answering modal dialogs, collecting error boxes, and a
// fixture with the three forms, two pseudo-terminals mapped as COM201 (GPS) and COM202
// (AIS), and a private settings file.
#pragma once

#include "formstyle.h"
#include "helpform.h"
#include "mainform.h"
#include "memopane.h"
#include "nrapplication.h"
#include "portsettingsform.h"
#include "ptypair.h"
#include "testenv.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

// Answers the modal windows that open, one step each, in order. A step waits until the
// top modal window is of its type; its action runs from a queued call, so an action may
// itself open the next modal window.
class TModalScript : public QObject {
public:
    TModalScript() {
        fTimer.setInterval(5);
        QObject::connect(&fTimer, &QTimer::timeout, this, [this] { Poll(); });
        fTimer.start();
    }

    template <class W> TModalScript& Then(std::function<void(W*)> action) {
        fSteps.push_back({[](QWidget* w) { return qobject_cast<W*>(w) != nullptr; },
                          [action](QWidget* w) { action(qobject_cast<W*>(w)); }});
        return *this;
    }

    bool Done() const { return fSteps.empty() && fRunning == 0; }
    int Pending() const { return static_cast<int>(fSteps.size()); }

private:
    struct TStep {
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> action;
    };

    void Poll() {
        if (fSteps.empty()) return;
        QWidget* top = QApplication::activeModalWidget();
        if (!top || !top->isVisible() || top == fLastHandled || !fSteps.front().matches(top)) return;
        fLastHandled = top;
        TStep step = fSteps.front();
        fSteps.pop_front();
        ++fRunning;
        QPointer<QWidget> target(top);
        QMetaObject::invokeMethod(
            this,
            [this, step, target] {
                if (target) step.action(target);
                --fRunning;
                // The same window may be the next step's (a dialog that stays open).
                if (fLastHandled == target) fLastHandled = nullptr;
            },
            Qt::QueuedConnection);
    }

    QTimer fTimer;
    std::deque<TStep> fSteps;
    QPointer<QWidget> fLastHandled;
    int fRunning = 0;
};

// Clicks the message box button whose text is given ("&Oui", "&Non", "OK").
inline void ClickButton(QMessageBox* box, const QString& text) {
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text) {
            b->click();
            return;
        }
    ADD_FAILURE() << "no button " << text.toStdString() << " in the box \"" << box->text().toStdString()
                  << "\"";
    box->reject();
}

// Collects the error boxes instead of showing them.
struct TShownErrors {
    QStringList texts;
    TUserMessageHandler previous;
    TShownErrors() {
        previous = SetUserMessageHandler(
            [this](TUserMessageKind, const QString& text, const QString&) { texts.append(text); });
    }
    ~TShownErrors() { SetUserMessageHandler(previous); }
};

// Writes to a pseudo-terminal from another thread while the event loop runs: a write
// larger than the terminal's buffer waits for the port to read, and the port hands what it
// read to this thread.
inline void FeedWhileProcessing(TPtyPair& pty, const QByteArray& bytes) {
    std::atomic<bool> done{false};
    std::thread writer([&] {
        pty.Write(bytes);
        done = true;
    });
    WaitUntil([&] { return done.load(); }, std::chrono::seconds(60));
    writer.join();
}

inline QStringList PaneLines(const TMemoPane* pane) {
    QStringList lines;
    for (qsizetype i = 0; i < pane->LineCount(); ++i)
        lines.append(pane->Line(i));
    return lines;
}

inline QByteArray FileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
}

inline void WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
}

class MonitorWindowTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString iniPath;
    TPtyPair gps;
    TPtyPair ais;
    TShownErrors errors;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        iniPath = dir.filePath(QStringLiteral("brisemer.INI"));
        TTestEnvironment::WritePortMap(
            {QStringLiteral("COM201 = ") + gps.SlavePath(), QStringLiteral("COM202 = ") + ais.SlavePath()});
    }

    void TearDown() override {
        form3.reset();
        form2.reset();
        form1.reset();
    }

    // Creates the three forms in the program's order and shows the main window.
    void Start() {
        form1 = std::make_unique<TForm1>(iniPath);
        form2 = std::make_unique<TForm2>();
        form3 = std::make_unique<TForm3>(form1.get());
        form1->SetHelpForm(form2.get());
        form1->SetSettingsForm(form3.get());
        form1->show();
    }

    // Both channels on their pseudo-terminals with their default line settings.
    void StartWithBothPorts() {
        WriteFileBytes(iniPath, "[ComPort GPS]\r\nComNb=201\r\n[ComPort AIS]\r\nComNb=202\r\n");
        Start();
        ASSERT_TRUE(form1->nrComm1->Active());
        ASSERT_TRUE(form1->nrComm2->Active());
    }

    // Runs the status refresh now instead of waiting for the timer.
    void Refresh() { form1->Timer1Timer(form1->Timer1); }

    static bool WaitForLines(const TMemoPane* pane, qsizetype count) {
        return WaitUntil([&] { return pane->LineCount() >= count; });
    }
};
