// The window's dialogs driven as a user would: the port settings dialog (preselection,
// picking a port, the duplicate refusal, OK and Cancel), saving and clearing the panes,
// and quitting with and without saving the settings.
#include "VrLeds.h"
#include "glyphbutton.h"
#include "monitortestkit.h"
#include "nrcommbox.h"
#include "nrdevicemonitor.h"
#include "pipeeventsource.h"
#include "portwatch.h"
#include "savedialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Types a name into the save dialog's file name field, as the user does.
void TypeFileName(QFileDialog* d, const QString& name) {
    auto* edit = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(edit, nullptr);
    edit->clear();
    QTest::keyClicks(edit, name);
}

// A third pseudo-terminal, COM203, for moving a channel to a free port.
class PortDialogTest : public MonitorWindowTest {
protected:
    TPtyPair spare;
    void SetUp() override {
        MonitorWindowTest::SetUp();
        TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + gps.SlavePath(),
                                        QStringLiteral("COM202 = ") + ais.SlavePath(),
                                        QStringLiteral("COM203 = ") + spare.SlavePath()});
    }

    // Picks the box entry of the port as the drop-down list does when the user clicks it:
    // the selection moves, then the list reports the activation.
    static void PickPort(TnrDeviceBox* box, const QString& port) {
        const int target = box->findText(port);
        ASSERT_GE(target, 0) << port.toStdString();
        box->setCurrentIndex(target);
        emit box->activated(target);
    }

    QStringList Entries(const QComboBox* box) {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts.append(box->itemText(i));
        return texts;
    }
};

} // namespace

TEST_F(PortDialogTest, LayoutListsAndKeyboardAsTheUserExpects) {
    Start();
    TForm3& d = *form3;
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Paramétrage"));
    EXPECT_EQ(d.size(), QSize(206, 280));
    EXPECT_EQ(d.minimumSize(), d.maximumSize());
    EXPECT_TRUE(d.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    const struct {
        QWidget* control;
        QRect geometry;
    } fixed[] = {
        {d.Label1, QRect(104, 35, 67, 13)},      {d.Label2, QRect(104, 72, 59, 13)},
        {d.Label3, QRect(104, 109, 58, 13)},     {d.Label4, QRect(104, 145, 40, 13)},
        {d.Label5, QRect(104, 182, 47, 13)},     {d.BtnOK, QRect(16, 232, 75, 25)},
        {d.BtnCancel, QRect(112, 232, 75, 25)},  {d.CBoxBaudRate, QRect(24, 32, 65, 21)},
        {d.CBoxDataBits, QRect(54, 69, 36, 21)}, {d.CBoxStopBits, QRect(54, 106, 37, 21)},
        {d.CBoxParity, QRect(24, 141, 65, 21)},  {d.nrDeviceBox1, QRect(31, 179, 67, 21)},
    };
    for (const auto& c : fixed)
        EXPECT_EQ(c.control->geometry(), c.geometry) << c.control->objectName().toStdString();
    EXPECT_EQ(d.Label4->text(), QStringLiteral("Parité"));
    EXPECT_TRUE(d.Label4->font().bold() && d.Label4->font().italic());
    EXPECT_EQ(d.BtnCancel->text(), QStringLiteral("Annuler"));
    EXPECT_TRUE(d.BtnOK->isDefault());

    // The lists as created: 4800, 8, 1 and no parity.
    EXPECT_EQ(Entries(d.CBoxBaudRate),
              (QStringList{QStringLiteral("150"), QStringLiteral("300"), QStringLiteral("600"),
                           QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                           QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                           QStringLiteral("57600"), QStringLiteral("115200")}));
    EXPECT_EQ(d.CBoxBaudRate->currentIndex(), 5);
    EXPECT_EQ(Entries(d.CBoxDataBits), (QStringList{QStringLiteral("5"), QStringLiteral("6"),
                                                    QStringLiteral("7"), QStringLiteral("8")}));
    EXPECT_EQ(d.CBoxDataBits->currentIndex(), 3);
    EXPECT_EQ(Entries(d.CBoxStopBits), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_EQ(d.CBoxStopBits->currentIndex(), 0);
    EXPECT_EQ(Entries(d.CBoxParity),
              (QStringList{QStringLiteral("None"), QStringLiteral("Odd"), QStringLiteral("Even"),
                           QStringLiteral("Mark"), QStringLiteral("Space")}));
    EXPECT_EQ(d.CBoxParity->currentIndex(), -1);
    for (const QComboBox* list : {d.CBoxBaudRate, d.CBoxDataBits, d.CBoxStopBits, d.CBoxParity})
        EXPECT_FALSE(list->isEditable());
    EXPECT_FALSE(d.nrDeviceBox1->isEditable());
    EXPECT_TRUE(d.nrDeviceBox1->ResetOnChanged());

    const QList<QWidget*> order{d.BtnOK,        d.BtnCancel,  d.CBoxBaudRate, d.CBoxDataBits,
                                d.CBoxStopBits, d.CBoxParity, d.nrDeviceBox1};
    for (int i = 0; i + 1 < order.size(); ++i)
        EXPECT_EQ(order[i]->nextInFocusChain(), order[i + 1]) << order[i]->objectName().toStdString();
}

TEST_F(PortDialogTest, OpensOnTheChannelsRecordAndPortAndCancelChangesNothing) {
    StartWithBothPorts();
    TForm1& f = *form1;
    const TComParm before = f.Com2Rec;
    TModalScript script;
    bool seen = false;
    script.Then<TForm3>([&](TForm3* d) {
        seen = true;
        EXPECT_EQ(d->windowTitle(), QStringLiteral("Paramétrage"));
        EXPECT_EQ(d->size(), QSize(206, 280));
        EXPECT_EQ(d->CBoxBaudRate->currentText(), QStringLiteral("38400"));
        EXPECT_EQ(d->CBoxDataBits->currentText(), QStringLiteral("8"));
        EXPECT_EQ(d->CBoxStopBits->currentText(), QStringLiteral("1"));
        EXPECT_EQ(d->CBoxParity->currentText(), QStringLiteral("None"));
        EXPECT_EQ(d->nrDeviceBox1->nrComm(), f.nrComm2);
        EXPECT_EQ(Entries(d->nrDeviceBox1), (QStringList{QStringLiteral("COM201"), QStringLiteral("COM202"),
                                                         QStringLiteral("COM203")}));
        EXPECT_EQ(d->nrDeviceBox1->currentText(), QStringLiteral("COM202"));
        EXPECT_EQ(d->tmpComNb, 202);
        EXPECT_EQ(d->secondComNb, 201);
        d->CBoxBaudRate->setCurrentIndex(0); // changed, then cancelled
        QTest::mouseClick(d->BtnCancel, Qt::LeftButton);
    });
    QTest::mouseClick(f.SpBtnAIS, Qt::LeftButton);
    ASSERT_TRUE(seen);
    EXPECT_EQ(f.stMode, QStringLiteral("AIS"));
    EXPECT_EQ(f.Com2Rec, before);
    EXPECT_EQ(f.nrComm2->BaudRate(), 38400u);
    EXPECT_TRUE(f.nrComm2->Active());

    // Escape, like the title bar's close button, is Cancel too.
    script.Then<TForm3>([](TForm3* d) { QTest::keyClick(d, Qt::Key_Escape); });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    EXPECT_EQ(f.stMode, QStringLiteral("GPS"));
    EXPECT_EQ(form3->result(), TForm3::mrCancel);
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(PortDialogTest, OkOnAnOpenChannelAppliesTheLineSettingsAndReopensThePort) {
    StartWithBothPorts();
    TForm1& f = *form1;
    TModalScript script;
    script.Then<TForm3>([&](TForm3* d) {
        d->CBoxBaudRate->setCurrentIndex(d->CBoxBaudRate->findText(QStringLiteral("9600")));
        d->CBoxDataBits->setCurrentIndex(d->CBoxDataBits->findText(QStringLiteral("7")));
        d->CBoxStopBits->setCurrentIndex(1);
        d->CBoxParity->setCurrentIndex(2);
        QTest::mouseClick(d->BtnOK, Qt::LeftButton);
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(f.Com1Rec, (TComParm{201, pEven, 7, sbTwo, 9600}));
    EXPECT_EQ(f.nrComm1->BaudRate(), 9600u);
    EXPECT_EQ(f.nrComm1->ByteSize(), 7);
    EXPECT_EQ(f.nrComm1->StopBits(), sbTwo);
    EXPECT_EQ(f.nrComm1->Parity(), pEven);
    EXPECT_TRUE(f.nrComm1->Active());
    // The port closed and opened again: the lamps show it open, before and after the
    // refresh.
    for (const char* moment : {"after OK", "after the refresh"}) {
        EXPECT_TRUE(f.VrLedOnGPS->Active()) << moment;
        EXPECT_FALSE(f.VrLedOffGPS->Active()) << moment;
        EXPECT_TRUE(f.BtnClose1->isEnabled()) << moment;
        Refresh();
    }
    EXPECT_EQ(f.Label7->text(), QStringLiteral("Com201, 9600, Even, 7, Two"));

    gps.Write("after reopen\r");
    ASSERT_TRUE(WaitForLines(f.Memo1, 1));
    EXPECT_EQ(f.Memo1->Line(0), QStringLiteral("after reopen"));
}

TEST_F(PortDialogTest, OkOnAClosedChannelStoresThePortAndTheLampsShowItClosed) {
    Start(); // no settings file: both channels without a port
    TForm1& f = *form1;
    TModalScript script;
    script.Then<TForm3>([&](TForm3* d) {
        EXPECT_EQ(d->nrDeviceBox1->currentIndex(), -1);
        PickPort(d->nrDeviceBox1, QStringLiteral("COM203"));
        EXPECT_EQ(f.nrComm1->ComPortNo(), 203); // the box moved the component at once
        EXPECT_EQ(d->cp, 203);
        QTest::mouseClick(d->BtnOK, Qt::LeftButton);
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(f.Com1Rec, (TComParm{203, pNone, 8, sbOne, 4800}));
    EXPECT_EQ(f.nrComm1->ComPortNo(), 203);
    EXPECT_FALSE(f.nrComm1->Active());
    // A port number, but no open port: "Off" lit, "On" dark, nothing to close.
    for (const char* moment : {"after OK", "after the refresh"}) {
        EXPECT_FALSE(f.VrLedOnGPS->Active()) << moment;
        EXPECT_TRUE(f.VrLedOffGPS->Active()) << moment;
        EXPECT_FALSE(f.BtnClose1->isEnabled()) << moment;
        Refresh();
    }
    EXPECT_EQ(f.Label7->text(), QStringLiteral("Com203, 4800, None, 8, One"));

    // "&RS-Param" takes the number; the port was closed already and stays so.
    QTest::mouseClick(f.BitBtn1, Qt::LeftButton);
    for (const char* moment : {"after RS-Param", "after the refresh"}) {
        EXPECT_FALSE(f.VrLedOnGPS->Active()) << moment;
        EXPECT_TRUE(f.VrLedOffGPS->Active()) << moment;
        Refresh();
    }
    EXPECT_EQ(f.nrComm1->ComPortNo(), 0);
}

TEST_F(PortDialogTest, RecordValuesWithoutAListItemKeepTheShownSelection) {
    // 14400 baud and parity 7 can come from the settings file; no item shows them.
    WriteFileBytes(iniPath, "[ComPort GPS]\r\nBaudRate=14400\r\nParity=7\r\n");
    Start();
    TForm1& f = *form1;
    TModalScript script;
    script.Then<TForm3>([&](TForm3* d) {
        EXPECT_EQ(d->CBoxBaudRate->currentText(), QStringLiteral("4800")); // as created
        EXPECT_EQ(d->CBoxParity->currentIndex(), -1);
        QTest::mouseClick(d->BtnOK, Qt::LeftButton);
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(f.Com1Rec.RBaud, 4800);                  // the shown value
    EXPECT_EQ(static_cast<int>(f.Com1Rec.RParity), 7); // kept: nothing selected
    EXPECT_EQ(static_cast<int>(f.nrComm1->Parity()), 7);

    // The same dialog object keeps its lists between showings.
    script.Then<TForm3>([&](TForm3* d) {
        d->CBoxBaudRate->setCurrentIndex(0);
        QTest::mouseClick(d->BtnCancel, Qt::LeftButton);
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    f.Com1Rec.RBaud = 14400;
    script.Then<TForm3>([&](TForm3* d) {
        EXPECT_EQ(d->CBoxBaudRate->currentText(), QStringLiteral("150"));
        QTest::mouseClick(d->BtnCancel, Qt::LeftButton);
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
}

TEST_F(PortDialogTest, ThePortOfTheOtherChannelIsRefusedAndAnOpenChannelKeepsItsPort) {
    StartWithBothPorts();
    TForm1& f = *form1;
    int gpsCloses = 0;
    auto gpsClose = f.nrComm1->OnClose;
    f.nrComm1->OnClose = [&](QObject* sender) {
        ++gpsCloses;
        gpsClose(sender);
    };
    TModalScript script;
    QStringList refusals;
    auto refuse = [&](QMessageBox* box) {
        refusals << box->text();
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Informations"));
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        // Refused before anything moved: the GPS port is open on its own port still.
        EXPECT_EQ(f.nrComm1->ComPortNo(), 201);
        EXPECT_TRUE(f.nrComm1->Active());
        ClickButton(box, QStringLiteral("OK"));
    };
    script.Then<TForm3>([&](TForm3* d) {
        PickPort(d->nrDeviceBox1, QStringLiteral("COM202"));
        EXPECT_EQ(d->nrDeviceBox1->currentText(), QStringLiteral("COM201"));
        // Still receiving on its port while the dialog is open.
        gps.Write("still on COM201\r");
        EXPECT_TRUE(WaitForLines(f.Memo1, 1));
        QTest::mouseClick(d->BtnOK, Qt::LeftButton);
    });
    script.Then<QMessageBox>(refuse);
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(gpsCloses, 1); // OK's reopening only, never the refused pick
    EXPECT_EQ(f.Com1Rec.RComNumber, 201);
    EXPECT_TRUE(f.nrComm1->Active());
    EXPECT_TRUE(f.VrLedOnGPS->Active());
    EXPECT_EQ(f.Memo1->Line(0), QStringLiteral("still on COM201"));

    // A closed channel without a port is refused the same, and keeps no port.
    QTest::mouseClick(f.BtnClose1, Qt::LeftButton);
    script.Then<TForm3>([&](TForm3* d) {
        PickPort(d->nrDeviceBox1, QStringLiteral("COM202"));
        EXPECT_EQ(d->nrDeviceBox1->currentIndex(), -1);
        QTest::mouseClick(d->BtnOK, Qt::LeftButton);
    });
    script.Then<QMessageBox>([&](QMessageBox* box) {
        refusals << box->text();
        ClickButton(box, QStringLiteral("OK"));
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(refusals, QStringList(2, QStringLiteral("Vous ne pouvez assigner le même N° de port aux 2 RS-232!")));
    EXPECT_EQ(f.Com1Rec.RComNumber, 0);
    EXPECT_EQ(f.nrComm1->ComPortNo(), 0);
    EXPECT_TRUE(f.nrComm2->Active()); // the AIS channel never noticed
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(PortDialogTest, APickMovesAnOpenChannelAtOnceAndCancelPutsItBack) {
    StartWithBothPorts();
    TForm1& f = *form1;
    TModalScript script;
    script.Then<TForm3>([&](TForm3* d) {
        PickPort(d->nrDeviceBox1, QStringLiteral("COM203"));
        EXPECT_EQ(f.nrComm1->ComPortNo(), 203);
        EXPECT_TRUE(f.nrComm1->Active());
        // Already receiving on the new port while the dialog is open.
        spare.Write("from the new port\r");
        EXPECT_TRUE(WaitForLines(f.Memo1, 1));
        QTest::mouseClick(d->BtnCancel, Qt::LeftButton);
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(f.Memo1->Line(0), QStringLiteral("from the new port"));
    // Back on the port it had, open and receiving there.
    EXPECT_EQ(f.nrComm1->ComPortNo(), 201);
    EXPECT_TRUE(f.nrComm1->Active());
    EXPECT_EQ(f.Com1Rec.RComNumber, 201);
    gps.Write("back on COM201\r");
    ASSERT_TRUE(WaitForLines(f.Memo1, 2));
    EXPECT_EQ(f.Memo1->Line(1), QStringLiteral("back on COM201"));
    Refresh();
    EXPECT_EQ(f.Label7->text(), QStringLiteral("Com201, 4800, None, 8, One"));
    EXPECT_TRUE(f.VrLedOnGPS->Active());

    // Escape cancels the same; quitting then saves the port the channel had.
    script.Then<TForm3>([&](TForm3* d) {
        PickPort(d->nrDeviceBox1, QStringLiteral("COM203"));
        QTest::keyClick(d, Qt::Key_Escape);
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(f.nrComm1->ComPortNo(), 201);
    script.Then<QMessageBox>([](QMessageBox* box) { ClickButton(box, QStringLiteral("&Oui")); });
    QTest::mouseClick(f.btnQuit, Qt::LeftButton);
    EXPECT_TRUE(FileBytes(iniPath).contains("[ComPort GPS]\r\nComNb=201\r\n"));
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(PortDialogTest, AFailedReopeningIsShownAndCancelReopensThePortItHad) {
    StartWithBothPorts();
    TForm1& f = *form1;
    // Another program holds COM203: the GPS port cannot open on it.
    const int holder = ::open(spare.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    TModalScript script;
    bool stillOpen = false;
    script.Then<TForm3>([&](TForm3* d) {
        PickPort(d->nrDeviceBox1, QStringLiteral("COM203"));
        stillOpen = d->isVisible();
        EXPECT_EQ(f.nrComm1->ComPortNo(), 0);
        EXPECT_EQ(f.Com1Rec.RComNumber, 0);
        EXPECT_FALSE(f.nrComm1->Active());
        EXPECT_TRUE(f.VrLedOffGPS->Active());
        EXPECT_FALSE(f.VrLedOnGPS->Active());
        EXPECT_FALSE(f.BtnClose1->isEnabled());
        QTest::mouseClick(d->BtnCancel, Qt::LeftButton);
    });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ::close(holder);
    ASSERT_TRUE(script.Done());
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(errors.texts.size(), 1);
    EXPECT_TRUE(errors.texts[0].contains(QStringLiteral("COM203"))) << errors.texts[0].toStdString();
    // Cancel: open again on the port it had, with its record.
    EXPECT_EQ(f.nrComm1->ComPortNo(), 201);
    EXPECT_EQ(f.Com1Rec.RComNumber, 201);
    EXPECT_TRUE(f.nrComm1->Active());
    EXPECT_TRUE(f.VrLedOnGPS->Active());
    EXPECT_FALSE(f.VrLedOffGPS->Active());
    EXPECT_TRUE(f.nrComm2->Active());
}

TEST_F(PortDialogTest, OkReopeningOnAPortThatVanishedShowsTheComponentsMessage) {
    StartWithBothPorts();
    TForm1& f = *form1;
    // The GPS port's map entry goes away while the port is open.
    TTestEnvironment::WritePortMap({QStringLiteral("COM202 = ") + ais.SlavePath()});
    TModalScript script;
    script.Then<TForm3>([&](TForm3* d) { QTest::mouseClick(d->BtnOK, Qt::LeftButton); });
    QTest::mouseClick(f.SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    ASSERT_EQ(errors.texts.size(), 1);
    EXPECT_EQ(f.nrComm1->ComPortNo(), 0);
    EXPECT_EQ(f.Com1Rec.RComNumber, 0);
    EXPECT_TRUE(f.VrLedOffGPS->Active());
    EXPECT_TRUE(f.isVisible());
}

// --- Saving and clearing ---

TEST_F(MonitorWindowTest, SavingWritesThePaneAsTxtWithCrLfInWindows1252) {
    StartWithBothPorts();
    TForm1& f = *form1;
    gps.Write("$GPGGA,caf\xE9\r\n$GPRMC\r");
    ASSERT_TRUE(WaitForLines(f.Memo1, 2));
    f.Memo1->AppendLine(QStringLiteral("typed € ☺"));

    const QString typed = dir.filePath(QStringLiteral("capture.log"));
    TModalScript script;
    script.Then<TTextSaveDialog>([&](TTextSaveDialog* d) {
        EXPECT_EQ(QDir(d->directory()).absolutePath(), QDir(dir.path()).absolutePath());
        EXPECT_EQ(d->nameFilters(), QStringList{QStringLiteral("Text files (*.txt)")});
        TypeFileName(d, typed);
        d->accept();
    });
    QTest::mouseClick(f.btnSaveGPStxt, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_FALSE(QFileInfo::exists(typed));
    EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("capture.txt"))),
              QByteArray("$GPGGA,caf\xE9\r\n\n$GPRMC\r\ntyped \x80 ?\r\n"));
    EXPECT_EQ(PaneLines(f.Memo1).size(), 3); // the pane is unchanged

    // The AIS pane, empty, gives an empty file; its dialog remembers nothing of the GPS one.
    QTest::mouseClick(f.btnClearAIStxt, Qt::LeftButton);
    script.Then<TTextSaveDialog>([&](TTextSaveDialog* d) {
        EXPECT_TRUE(d->selectedFiles().isEmpty() ||
                    !d->selectedFiles().first().endsWith(QStringLiteral("capture.log")));
        TypeFileName(d, dir.filePath(QStringLiteral("empty")));
        d->accept();
    });
    QTest::mouseClick(f.btnSaveAIStxt, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(QFileInfo(dir.filePath(QStringLiteral("empty.txt"))).size(), 0);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath(QStringLiteral("empty.txt"))));

    // The GPS dialog offers the name chosen last.
    script.Then<TTextSaveDialog>([&](TTextSaveDialog* d) {
        ASSERT_FALSE(d->selectedFiles().isEmpty());
        EXPECT_EQ(d->selectedFiles().first(), typed);
        d->reject();
    });
    QTest::mouseClick(f.btnSaveGPStxt, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(MonitorWindowTest, TheOverwriteQuestionIsAboutTheFileReallyWritten) {
    Start();
    TForm1& f = *form1;
    const QString txt = dir.filePath(QStringLiteral("capture.txt"));
    const QString log = dir.filePath(QStringLiteral("capture.log"));
    WriteFileBytes(txt, "earlier capture\r\n");
    WriteFileBytes(log, "an unrelated log\n");

    // Typed capture.log: the question names capture.txt; No keeps the dialog open.
    TModalScript script;
    QString question;
    bool dialogStayedOpen = false;
    script.Then<TTextSaveDialog>([&](TTextSaveDialog* d) {
        TypeFileName(d, log);
        d->accept();
        dialogStayedOpen = d->isVisible();
        d->reject();
    });
    script.Then<QMessageBox>([&](QMessageBox* box) {
        question = box->text();
        box->button(QMessageBox::No)->click();
    });
    QTest::mouseClick(f.btnSaveGPStxt, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_TRUE(question.contains(QStringLiteral("capture.txt"))) << question.toStdString();
    EXPECT_FALSE(question.contains(QStringLiteral("capture.log")));
    EXPECT_TRUE(dialogStayedOpen);
    EXPECT_EQ(FileBytes(txt), QByteArray("earlier capture\r\n"));

    // Yes replaces it; capture.log is never touched.
    script.Then<TTextSaveDialog>([&](TTextSaveDialog* d) {
        TypeFileName(d, log);
        d->accept();
    });
    script.Then<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    QTest::mouseClick(f.btnSaveGPStxt, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(FileBytes(txt), QByteArray("MemoGPS\r\n"));
    EXPECT_EQ(FileBytes(log), QByteArray("an unrelated log\n"));

    // A new name asks nothing.
    script.Then<TTextSaveDialog>([&](TTextSaveDialog* d) {
        TypeFileName(d, dir.filePath(QStringLiteral("fresh.nmea")));
        d->accept();
    });
    QTest::mouseClick(f.btnSaveGPStxt, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(FileBytes(dir.filePath(QStringLiteral("fresh.txt"))), QByteArray("MemoGPS\r\n"));
}

TEST_F(MonitorWindowTest, AFileThatCannotBeCreatedIsReportedWithItsNameAndReason) {
    Start();
    TForm1& f = *form1;
    const QString blocked = dir.filePath(QStringLiteral("blocked.txt"));
    ASSERT_TRUE(QDir().mkpath(blocked)); // a folder where the file should go
    TModalScript script;
    script.Then<TTextSaveDialog>([&](TTextSaveDialog* d) {
        TypeFileName(d, dir.filePath(QStringLiteral("blocked.log")));
        d->accept();
    });
    script.Then<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    QTest::mouseClick(f.btnSaveGPStxt, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    ASSERT_EQ(errors.texts.size(), 1);
    const QString prefix = QStringLiteral("Impossible de créer le fichier \"%1\". ").arg(blocked);
    EXPECT_TRUE(errors.texts[0].startsWith(prefix)) << errors.texts[0].toStdString();
    EXPECT_GT(errors.texts[0].size(), prefix.size()); // the system's reason follows
    EXPECT_TRUE(QFileInfo(blocked).isDir());
    EXPECT_EQ(PaneLines(f.Memo1), QStringList{QStringLiteral("MemoGPS")});
}

// --- Quitting ---

TEST_F(MonitorWindowTest, QuitWithYesClosesThePortsFirstAndWritesTheSettingsInPlace) {
    WriteFileBytes(iniPath, "; Brisemer, ship's bridge PC\r\n"
                            "[Display]\r\n"
                            "Font=Courier New\r\n"
                            "[comport gps]\r\n"
                            "comnb=201\r\n"
                            "StopBits=2\r\n"
                            "[ComPort AIS]\r\n"
                            "ComNb=202\r\n"
                            "BaudRate=38400\r\n");
    Start();
    TForm1& f = *form1;
    ASSERT_TRUE(f.nrComm1->Active() && f.nrComm2->Active());
    f.nrComm2->SetStopBits(sbOneAndHalf); // written as 2
    QSignalSpy closed(&f, &TForm1::Closed);

    TModalScript script;
    bool portsClosedBeforeQuestion = false;
    script.Then<QMessageBox>([&](QMessageBox* box) {
        portsClosedBeforeQuestion = !f.nrComm1->Active() && !f.nrComm2->Active() && f.VrLedOffGPS->Active() &&
                                    f.VrLedOffAIS->Active() && !f.VrLedOnGPS->Active();
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Confirmer"));
        EXPECT_EQ(box->text(), QStringLiteral("Sauver la configuration des ComPorts ?"));
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(box->buttons().size(), 2);
        ClickButton(box, QStringLiteral("&Oui"));
    });
    QTest::mouseClick(f.btnQuit, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_TRUE(portsClosedBeforeQuestion);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(FileBytes(iniPath), QByteArray("; Brisemer, ship's bridge PC\r\n"
                                             "[Display]\r\n"
                                             "Font=Courier New\r\n"
                                             "[comport gps]\r\n"
                                             "comnb=201\r\n"
                                             "StopBits=2\r\n"
                                             "BaudRate=4800\r\n"
                                             "DataBits=8\r\n"
                                             "Parity=0\r\n"
                                             "[ComPort AIS]\r\n"
                                             "ComNb=202\r\n"
                                             "BaudRate=38400\r\n"
                                             "DataBits=8\r\n"
                                             "StopBits=2\r\n"
                                             "Parity=0\r\n"));
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(MonitorWindowTest, QuitAfterRsParamWritesTheDefaultsFromNothing) {
    StartWithBothPorts();
    TForm1& f = *form1;
    ASSERT_TRUE(QFile::remove(iniPath));
    QTest::mouseClick(f.BitBtn1, Qt::LeftButton);
    TModalScript script;
    script.Then<QMessageBox>([](QMessageBox* box) { ClickButton(box, QStringLiteral("&Oui")); });
    f.close(); // a close request from the desktop takes the same path
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(FileBytes(iniPath),
              QByteArray("[ComPort GPS]\r\nComNb=0\r\nBaudRate=4800\r\nDataBits=8\r\nStopBits=1\r\n"
                         "Parity=0\r\n[ComPort AIS]\r\nComNb=0\r\nBaudRate=38400\r\nDataBits=8\r\n"
                         "StopBits=1\r\nParity=0\r\n"));
}

TEST_F(MonitorWindowTest, QuitWithNoWritesNothingAndEndsAllTheSame) {
    Start();
    TForm1& f = *form1;
    QSignalSpy closed(&f, &TForm1::Closed);
    TModalScript script;
    script.Then<QMessageBox>([](QMessageBox* box) { ClickButton(box, QStringLiteral("&Non")); });
    QTest::mouseClick(f.btnQuit, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(QFileInfo::exists(iniPath));
}

TEST_F(MonitorWindowTest, ASettingsFileThatCannotBeWrittenKeepsTheWindowOpen) {
    ASSERT_TRUE(QDir().mkpath(iniPath)); // a folder in the file's place
    Start();
    TForm1& f = *form1;
    QSignalSpy closed(&f, &TForm1::Closed);
    TModalScript script;
    script.Then<QMessageBox>([](QMessageBox* box) { ClickButton(box, QStringLiteral("&Oui")); });
    QTest::mouseClick(f.btnQuit, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    ASSERT_EQ(errors.texts.size(), 1);
    EXPECT_EQ(errors.texts[0], QStringLiteral("Impossible d'écrire dans ") + iniPath);
    EXPECT_EQ(closed.count(), 0);
    EXPECT_TRUE(f.isVisible());

    // The user closes again and answers No.
    script.Then<QMessageBox>([](QMessageBox* box) { ClickButton(box, QStringLiteral("&Non")); });
    QTest::mouseClick(f.btnQuit, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(closed.count(), 1);
}

TEST_F(PortDialogTest, TheListFollowsAnAdapterPluggedInWhileTheDialogIsOpenWithOneReload) {
    StartWithBothPorts();
    TModalScript script;
    auto events = std::make_unique<TPipeEventSource>();
    const TPipeEventSource* udev = events.get();
    form1->PortWatch->SetDeviceEventSource(std::move(events));
    TTestEnvironment::WritePortMap(
        {QStringLiteral("COM201 = ") + gps.SlavePath(), QStringLiteral("COM202 = ") + ais.SlavePath()});
    ASSERT_TRUE(WaitUntil([&] { return form1->PortWatch->Reloads() == 1; })); // the map edited above
    TPtyPair adapter;
    QStringList before, during;
    int reloads = 0;
    script.Then<TForm3>([&](TForm3* d) {
        before = Entries(d->nrDeviceBox1);
        // Plugged in: a line for it in the map file, and its tty and links from udev.
        const int start = form1->PortWatch->Reloads();
        TTestEnvironment::WritePortMap({QStringLiteral("COM201 = ") + gps.SlavePath(),
                                        QStringLiteral("COM202 = ") + ais.SlavePath(),
                                        QStringLiteral("COM204 = ") + adapter.SlavePath()});
        udev->Send("add usb 1-2 -");
        udev->Send("add tty ttyUSB0 /dev/ttyUSB0");
        udev->Send("change tty ttyUSB0 /dev/ttyUSB0");
        ASSERT_TRUE(WaitUntil([&] { return d->nrDeviceBox1->findText(QStringLiteral("COM204")) >= 0; }));
        ProcessEventsFor(std::chrono::milliseconds(2 * TPortWatch::kSettleMs));
        reloads = form1->PortWatch->Reloads() - start;
        during = Entries(d->nrDeviceBox1);
        PickPort(d->nrDeviceBox1, QStringLiteral("COM204"));
        QTest::mouseClick(d->BtnOK, Qt::LeftButton);
    });
    QTest::mouseClick(form1->SpBtnGPS, Qt::LeftButton);
    ASSERT_TRUE(script.Done());
    EXPECT_EQ(before, (QStringList{"COM201", "COM202"}));
    EXPECT_EQ(during, (QStringList{"COM201", "COM202", "COM204"}));
    EXPECT_EQ(reloads, 1);
    ASSERT_TRUE(form1->nrComm1->Active());
    EXPECT_EQ(form1->nrComm1->ComPortNo(), 204);
    adapter.Write("$GPTXT,plugged in*00\r");
    EXPECT_TRUE(WaitUntil([&] { return form1->Memo1->LineCount() > 0 &&
                                       form1->Memo1->Line(form1->Memo1->LineCount() - 1).endsWith(
                                           QStringLiteral("$GPTXT,plugged in*00")); }));

    // Pulled out: its line goes and udev tells of the removal.
    TTestEnvironment::WritePortMap(
        {QStringLiteral("COM201 = ") + gps.SlavePath(), QStringLiteral("COM202 = ") + ais.SlavePath()});
    udev->Send("remove tty ttyUSB0 /dev/ttyUSB0");
    EXPECT_TRUE(WaitUntil([&] { return form1->nrComm1->IndexOfData(204) < 0; }));
}
