// The port's configuration dialog, driven with QTest while it runs modally: what it shows,
// what a confirmation sends and holds, what a cancellation leaves alone.

#include "commtestutil.h"
#include "nrcomm.h"
#include "nrcommconfigdialog.h"
#include "testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// Answers the next configuration dialog as soon as it is shown. A dialog the answer left
// open is cancelled, so a failing check never leaves the test waiting.
void AnswerNextDialog(std::function<void(TnrCommConfigDialog&)> answer) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        auto* dialog = qobject_cast<TnrCommConfigDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        answer(*dialog);
        if (dialog->isVisible()) dialog->reject();
    });
    poll->start(5);
}

QComboBox* List(TnrCommConfigDialog& d, const char* name) {
    auto* box = d.findChild<QComboBox*>(QString::fromLatin1(name));
    EXPECT_NE(box, nullptr) << name;
    return box;
}

void Choose(TnrCommConfigDialog& d, const char* list, const QString& text) {
    QComboBox* box = List(d, list);
    const int index = box->findText(text);
    ASSERT_GE(index, 0) << list << ": " << text.toStdString();
    box->setCurrentIndex(index);
}

void TypeBaudRate(TnrCommConfigDialog& d, const QString& text) {
    QLineEdit* edit = List(d, "BaudRate")->lineEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

QPushButton* Button(TnrCommConfigDialog& d, QDialogButtonBox::StandardButton which) {
    return d.findChild<QDialogButtonBox*>(QStringLiteral("Buttons"))->button(which);
}

void Click(QPushButton* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

class ConfigDialog : public testing::Test {
protected:
    void SetUp() override {
        Com.SetBaudRate(4800);
        Com.SetByteSize(7);
        Com.SetParity(pOdd);
        Com.SetStopBits(sbTwo);
        Com.SetStreamProtocol(spHardware);
    }
    void TearDown() override {
        Com.SetActive(false);
        EXPECT_TRUE(AllPortThreadsEnded());
    }
    void Open() {
        Com.SetExtHandle(Port.Handle);
        ASSERT_TRUE(Com.Active());
    }

    TFakePort Port;
    TnrComm Com;
};

} // namespace

TEST(ConfigDialogFlags, EveryFlowChoiceIsReadBackFromTheFlagsItComposes) {
    for (std::uint32_t kept : {0u, DCB_fParity | DCB_fErrorChar | DCB_fAbortOnError}) {
        for (TnrFlowChoice choice : {fcNone, fcXonXoff, fcHardware, fcRtsToggle}) {
            // Start from flags of every other choice: nothing of them may survive.
            for (TnrFlowChoice from : {fcNone, fcXonXoff, fcHardware, fcRtsToggle}) {
                const std::uint32_t flags =
                    ComposeFlowControlFlags(ComposeFlowControlFlags(kept, from), choice);
                EXPECT_EQ(FlowChoiceOfFlags(flags), choice) << int(from) << "->" << int(choice);
                EXPECT_EQ(flags & kept, kept);
            }
        }
    }
}

TEST_F(ConfigDialog, ShowsTheHeldSettingsAndCancelChangesNothing) {
    Open();
    const std::size_t applied = Port.Device->AppliedStates().size();
    AnswerNextDialog([](TnrCommConfigDialog& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Settings of COM1"));
        EXPECT_EQ(List(d, "BaudRate")->currentText(), QStringLiteral("4800"));
        EXPECT_EQ(List(d, "DataBits")->currentText(), QStringLiteral("7"));
        EXPECT_EQ(List(d, "Parity")->currentText(), QStringLiteral("Odd"));
        EXPECT_EQ(List(d, "StopBits")->currentText(), QStringLiteral("2"));
        EXPECT_EQ(List(d, "FlowControl")->currentText(), QStringLiteral("Hardware"));
        TypeBaudRate(d, QStringLiteral("115200"));
        Choose(d, "FlowControl", QStringLiteral("None"));
        Click(Button(d, QDialogButtonBox::Cancel));
    });
    EXPECT_FALSE(Com.ConfigDialog());
    EXPECT_EQ(Port.Device->AppliedStates().size(), applied);
    EXPECT_EQ(Com.BaudRate(), 4800u);
    EXPECT_EQ(Com.StreamProtocol(), spHardware);
}

TEST_F(ConfigDialog, ConfirmedChoicesGoToTheOpenPortAsTheyAreAndAreHeld) {
    Open();
    const std::size_t applied = Port.Device->AppliedStates().size();
    AnswerNextDialog([](TnrCommConfigDialog& d) {
        TypeBaudRate(d, QStringLiteral("38400"));
        Choose(d, "DataBits", QStringLiteral("8"));
        Choose(d, "Parity", QStringLiteral("None"));
        Choose(d, "StopBits", QStringLiteral("1"));
        Choose(d, "FlowControl", QStringLiteral("XON/XOFF"));
        Click(Button(d, QDialogButtonBox::Ok));
    });
    EXPECT_TRUE(Com.ConfigDialog());
    const auto states = Port.Device->AppliedStates();
    ASSERT_EQ(states.size(), applied + 1); // one state, sent once
    const TDCB& sent = states.back();
    EXPECT_EQ(std::uint32_t(sent.BaudRate), 38400u);
    EXPECT_EQ(sent.ByteSize, 8);
    EXPECT_EQ(sent.Parity, NOPARITY);
    EXPECT_EQ(sent.StopBits, ONESTOPBIT);
    EXPECT_EQ(sent.Flags & DCB_fParity, 0u);
    EXPECT_EQ(sent.Flags & (DCB_fOutX | DCB_fInX | DCB_fOutxCtsFlow), DCB_fOutX | DCB_fInX);
    EXPECT_EQ(Com.StreamProtocol(), spXonXoff);
    EXPECT_FALSE(Com.RS485Mode());
    EXPECT_EQ(Com.BaudRate(), 38400u);
    EXPECT_EQ(Com.Parity(), pNone);
}

TEST_F(ConfigDialog, RtsToggleTurnsOnRS485DirectionControlAtOnce) {
    Open();
    AnswerNextDialog([](TnrCommConfigDialog& d) {
        Choose(d, "FlowControl", QStringLiteral("RTS toggle"));
        Click(Button(d, QDialogButtonBox::Ok));
    });
    ASSERT_TRUE(Com.ConfigDialog());
    EXPECT_TRUE(Com.RS485Mode());
    EXPECT_EQ(Com.StreamProtocol(), spNone);
    // The fake's driver can't toggle RTS: the component does, around each send.
    EXPECT_TRUE(Port.Device->Mask() & EV_TXEMPTY);
    const std::size_t before = Port.Device->Escapes().size();
    Com.SendChar(u'a');
    ASSERT_TRUE(WaitUntil([&] { return Port.Device->Escapes().size() >= before + 2; }));
    const auto escapes = Port.Device->Escapes();
    EXPECT_EQ(escapes[before], SETRTS);
    EXPECT_EQ(escapes[before + 1], CLRRTS);
    EXPECT_FALSE(Port.Device->Rts());

    AnswerNextDialog([](TnrCommConfigDialog& d) {
        EXPECT_EQ(List(d, "FlowControl")->currentText(), QStringLiteral("RTS toggle"));
        Choose(d, "FlowControl", QStringLiteral("Hardware"));
        Click(Button(d, QDialogButtonBox::Ok));
    });
    ASSERT_TRUE(Com.ConfigDialog());
    EXPECT_FALSE(Com.RS485Mode());
    EXPECT_EQ(Com.StreamProtocol(), spHardware);
    EXPECT_FALSE(Port.Device->Mask() & EV_TXEMPTY);
}

TEST_F(ConfigDialog, OnAClosedPortTheChoicesAreSentAtTheNextOpen) {
    AnswerNextDialog([](TnrCommConfigDialog& d) {
        TypeBaudRate(d, QStringLiteral("2400"));
        Choose(d, "DataBits", QStringLiteral("5"));
        Choose(d, "Parity", QStringLiteral("Space"));
        Choose(d, "StopBits", QStringLiteral("1.5"));
        Choose(d, "FlowControl", QStringLiteral("None"));
        Click(Button(d, QDialogButtonBox::Ok));
    });
    ASSERT_TRUE(Com.ConfigDialog());
    EXPECT_EQ(Com.BaudRate(), 2400u);
    EXPECT_EQ(Com.StreamProtocol(), spNone);
    EXPECT_TRUE(Port.Device->AppliedStates().empty());

    Open();
    const TDCB sent = Port.Device->AppliedStates().back();
    EXPECT_EQ(std::uint32_t(sent.BaudRate), 2400u);
    EXPECT_EQ(sent.ByteSize, 5);
    EXPECT_EQ(sent.Parity, SPACEPARITY);
    EXPECT_EQ(sent.StopBits, ONE5STOPBITS);
    EXPECT_EQ(sent.Flags & DCB_fParity, DCB_fParity);
    EXPECT_EQ(sent.Flags & (DCB_fOutX | DCB_fInX | DCB_fOutxCtsFlow | DCB_fRtsControlMask),
              DCB_fRtsControlEnable);
}

TEST_F(ConfigDialog, OnlyAPositiveSpeedCanBeConfirmed) {
    AnswerNextDialog([](TnrCommConfigDialog& d) {
        QPushButton* ok = Button(d, QDialogButtonBox::Ok);
        TypeBaudRate(d, QStringLiteral("0"));
        EXPECT_FALSE(ok->isEnabled());
        TypeBaudRate(d, QString());
        EXPECT_FALSE(ok->isEnabled());
        TypeBaudRate(d, QStringLiteral("9999999999")); // more than 32 bits hold
        EXPECT_FALSE(ok->isEnabled());
        Click(ok); // refused while disabled
        EXPECT_TRUE(d.isVisible());
        TypeBaudRate(d, QStringLiteral("12"));
        EXPECT_EQ(List(d, "BaudRate")->currentText(), QStringLiteral("12")); // not completed to 1200
        TypeBaudRate(d, QStringLiteral("25x0000"));                          // letters can't be typed
        EXPECT_EQ(List(d, "BaudRate")->currentText(), QStringLiteral("250000"));
        EXPECT_TRUE(ok->isEnabled());
        Click(ok);
    });
    ASSERT_TRUE(Com.ConfigDialog());
    EXPECT_EQ(Com.BaudRate(), 250000u);
}

TEST_F(ConfigDialog, AComponentDestroyedWhileTheDialogIsOpenIsLeftAlone) {
    auto* doomed = new TnrComm;
    doomed->SetBaudRate(1200);
    AnswerNextDialog([doomed](TnrCommConfigDialog& d) {
        delete doomed;
        TypeBaudRate(d, QStringLiteral("9600"));
        Click(Button(d, QDialogButtonBox::Ok));
    });
    EXPECT_FALSE(doomed->ConfigDialog());
}
