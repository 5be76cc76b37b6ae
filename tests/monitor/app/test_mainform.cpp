// The main window driven through its controls, with both channels on pseudo-terminals:
// start-up with and without a settings file, receiving, the close buttons, "&RS-Param",
// the status refresh, the lamps, the keyboard accelerators.
#include "VrLeds.h"
#include "glyphbutton.h"
#include "monitortestkit.h"

#include <QFileInfo>
#include <QLabel>
#include <QTest>
#include <QTime>
#include <QToolButton>
#include <thread>

TEST_F(MonitorWindowTest, StartsWithoutSettingsFileOnDefaultsAndRefreshesWithinTwoSeconds) {
    Start();
    TForm1& f = *form1;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Brisemer"));
    EXPECT_EQ(f.size(), QSize(720, 574));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_FALSE(f.windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                                    Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint));

    // The start time, in hours, minutes and seconds, within a few seconds of now.
    const QTime started = QTime::fromString(f.Label3->text().left(8), QStringLiteral("HH:mm:ss"));
    ASSERT_TRUE(started.isValid()) << f.Label3->text().toStdString();
    EXPECT_LE(std::abs(started.secsTo(QTime::currentTime())), 5);

    EXPECT_FALSE(f.nrComm1->Active());
    EXPECT_FALSE(f.nrComm2->Active());
    EXPECT_EQ(f.nrComm1->ComPortNo(), 0);
    EXPECT_EQ(f.nrComm1->BaudRate(), 4800u);
    EXPECT_EQ(f.nrComm2->BaudRate(), 38400u);
    EXPECT_EQ(f.Com1Rec, (TComParm{0, pNone, 8, sbOne, 4800}));
    EXPECT_EQ(f.Com2Rec, (TComParm{0, pNone, 8, sbOne, 38400}));
    EXPECT_TRUE(f.VrLedOffGPS->Active());
    EXPECT_TRUE(f.VrLedOffAIS->Active());
    EXPECT_FALSE(f.VrLedOnGPS->Active());
    EXPECT_FALSE(f.VrLedOnAIS->Active());
    EXPECT_EQ(PaneLines(f.Memo1), QStringList{QStringLiteral("MemoGPS")});
    EXPECT_EQ(PaneLines(f.Memo2), QStringList{QStringLiteral("Memo AIS")});

    // Until the first refresh the design-time labels; the close buttons already show
    // that no port is open.
    EXPECT_EQ(f.Label7->text(), QStringLiteral("4800, N, 8, 1"));
    EXPECT_EQ(f.Label8->text(), QStringLiteral("38400, N, 8, 1"));
    EXPECT_FALSE(f.BtnClose1->isEnabled());
    EXPECT_FALSE(f.BtnClose2->isEnabled());

    // The real timer, not a direct call: the refresh comes within 2000 ms.
    EXPECT_TRUE(WaitUntil([&] { return f.Label7->text() == QStringLiteral("No port selected"); },
                          std::chrono::milliseconds(2600)));
    EXPECT_EQ(f.Label8->text(), QStringLiteral("No port selected"));
    EXPECT_FALSE(f.BtnClose1->isEnabled());
    EXPECT_FALSE(f.BtnClose2->isEnabled());
    EXPECT_TRUE(f.VrLedOffGPS->Active());
    EXPECT_FALSE(f.VrLedOnGPS->Active());

    EXPECT_FALSE(QFileInfo::exists(iniPath)); // no file is created at start-up
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(MonitorWindowTest, LayoutPutsEveryControlWhereTheUserExpectsIt) {
    Start();
    TForm1& f = *form1;
    const struct {
        QWidget* control;
        QRect geometry;
    } fixed[] = {
        {f.Label1, QRect(80, 2, 99, 13)},
        {f.Label2, QRect(376, 2, 94, 13)},
        {f.VrLedOnGPS, QRect(103, 18, 61, 15)},
        {f.VrLedOffGPS, QRect(103, 31, 61, 15)},
        {f.VrLedOnAIS, QRect(391, 18, 61, 15)},
        {f.VrLedOffAIS, QRect(391, 31, 61, 15)},
        {f.spbtnHelp, QRect(689, 53, 23, 22)},
        {f.SpBtnAIS, QRect(357, 21, 23, 22)},
        {f.SpBtnGPS, QRect(72, 21, 23, 22)},
        {f.Memo1, QRect(8, 84, 704, 202)},
        {f.btnClearGPStxt, QRect(256, 293, 141, 25)},
        {f.btnClearAIStxt, QRect(272, 542, 141, 25)},
        {f.Memo2, QRect(8, 333, 704, 202)},
        {f.BtnClose1, QRect(79, 52, 107, 25)},
        {f.BtnClose2, QRect(367, 52, 107, 25)},
        {f.btnSaveAIStxt, QRect(10, 543, 129, 25)},
        {f.btnSaveGPStxt, QRect(11, 294, 129, 25)},
        {f.btnQuit, QRect(599, 541, 113, 27)},
        {f.BitBtn1, QRect(610, 20, 102, 25)},
    };
    for (const auto& c : fixed)
        EXPECT_EQ(c.control->geometry(), c.geometry) << c.control->objectName().toStdString();
    // Labels that grow keep their place.
    EXPECT_EQ(f.Label3->pos(), QPoint(632, 3));
    EXPECT_EQ(f.Label7->pos(), QPoint(172, 25));
    EXPECT_EQ(f.Label8->pos(), QPoint(462, 25));
    EXPECT_GE(f.Label7->width(), f.Label7->fontMetrics().horizontalAdvance(f.Label7->text()));

    EXPECT_FALSE(f.spbtnHelp->isVisible());
    EXPECT_EQ(f.SpBtnAIS->toolTip(), QStringLiteral("Paramètres de communication du Port AIS"));
    EXPECT_EQ(f.SpBtnGPS->toolTip(), QStringLiteral("Paramètres de communication du Port GPS"));
    EXPECT_EQ(f.BitBtn1->toolTip(), QStringLiteral("Restaure les paramètres  par défaut des RS-232"));
    EXPECT_TRUE(f.btnQuit->toolTip().isEmpty());
    EXPECT_EQ(f.btnQuit->Spacing(), 20);
    EXPECT_TRUE(f.btnQuit->font().bold());
    EXPECT_EQ(f.Label1->font().pixelSize(), 11);
    EXPECT_TRUE(f.Label1->font().bold() && f.Label1->font().underline());
    EXPECT_EQ(f.Memo1->font().family(), QStringLiteral("Courier New"));
    EXPECT_EQ(f.Memo1->font().pixelSize(), 13);
    EXPECT_EQ(f.Label7->font().family(), QStringLiteral("Arial"));

    // Keyboard focus order: the controls Tab reaches, in the order it reaches them.
    const QList<QWidget*> order{f.Memo1,     f.btnClearGPStxt, f.btnClearAIStxt, f.Memo2,   f.BtnClose1,
                                f.BtnClose2, f.btnSaveAIStxt,  f.btnSaveGPStxt,  f.btnQuit, f.BitBtn1};
    QList<QWidget*> reached;
    QWidget* w = f.Memo1;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&f)) reached.append(w);
        w = w->nextInFocusChain();
    } while (w != f.Memo1 && reached.size() < 20);
    EXPECT_EQ(reached, order);
}

TEST_F(MonitorWindowTest, StartsWithSettingsFileOpensBothPortsAndShowsReceivedLines) {
    WriteFileBytes(iniPath,
                   "[ComPort GPS]\r\nComNb=201\r\nBaudRate=9600\r\nDataBits=7\r\nStopBits=2\r\nParity=2\r\n"
                   "[ComPort AIS]\r\nComNb=202\r\n");
    Start();
    TForm1& f = *form1;
    ASSERT_TRUE(f.nrComm1->Active());
    ASSERT_TRUE(f.nrComm2->Active());
    EXPECT_EQ(f.Com1Rec, (TComParm{201, pEven, 7, sbTwo, 9600}));
    EXPECT_EQ(f.Label7->text(), QStringLiteral("Com201, 9600, Even, 7, Two"));
    EXPECT_EQ(f.Label8->text(), QStringLiteral("Com202, 38400, None, 8, One"));
    EXPECT_TRUE(f.VrLedOnGPS->Active());
    EXPECT_FALSE(f.VrLedOffGPS->Active());
    EXPECT_TRUE(f.VrLedOnAIS->Active());
    // Both panes were emptied at start-up.
    EXPECT_EQ(f.Memo1->LineCount(), 0);
    EXPECT_EQ(f.Memo2->LineCount(), 0);

    gps.Write("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n");
    ais.Write("!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26\r\n");
    ASSERT_TRUE(WaitForLines(f.Memo1, 1));
    ASSERT_TRUE(WaitForLines(f.Memo2, 1));
    EXPECT_EQ(f.Memo1->Line(0),
              QStringLiteral("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47"));
    EXPECT_EQ(f.Memo2->Line(0), QStringLiteral("!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26"));
    // The LF after the CR waits as the start of the next line.
    EXPECT_EQ(f.PendingGPS().PendingBytes(), QByteArray("\n"));
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(MonitorWindowTest, ReceivedBytesBecomeLinesOnlyAtCarriageReturn) {
    StartWithBothPorts();
    TForm1& f = *form1;

    gps.Write("$GPGGA,1");
    ProcessEventsFor(std::chrono::milliseconds(100));
    EXPECT_EQ(f.Memo1->LineCount(), 0); // no CR, no line
    EXPECT_TRUE(WaitUntil([&] { return f.PendingGPS().PendingBytes() == "$GPGGA,1"; }));
    gps.Write(",2\r\n$GPRMC");
    ASSERT_TRUE(WaitForLines(f.Memo1, 1));
    EXPECT_EQ(PaneLines(f.Memo1), QStringList{QStringLiteral("$GPGGA,1,2")});
    EXPECT_TRUE(WaitUntil([&] { return f.PendingGPS().PendingBytes() == "\n$GPRMC"; }));
    EXPECT_EQ(f.Memo2->LineCount(), 0); // the AIS pane is not touched

    // Two CRs: the pending line, then an empty one. A byte 0xE9 is é; NUL and other
    // control bytes stay in the line.
    gps.Write(QByteArray("\r\rcaf\xE9 ") + QByteArray(1, '\0') + QByteArray("\x01\xFF!\r"));
    ASSERT_TRUE(WaitForLines(f.Memo1, 4));
    EXPECT_EQ(f.Memo1->Line(1), QStringLiteral("\n$GPRMC"));
    EXPECT_EQ(f.Memo1->Line(2), QString());
    EXPECT_EQ(f.Memo1->Line(3), QStringLiteral("café ") + QChar(0) + QChar(1) + QChar(0xFF) + QChar(u'!'));

    // A very long line, sent in pieces, arrives whole.
    QByteArray longLine;
    for (int i = 0; i < 200000; ++i)
        longLine.append(static_cast<char>('A' + i % 26));
    FeedWhileProcessing(ais, longLine + "\r");
    ASSERT_TRUE(WaitForLines(f.Memo2, 1));
    EXPECT_EQ(f.Memo2->Line(0), QString::fromLatin1(longLine));
    EXPECT_EQ(f.Memo1->LineCount(), 4);
}

// The refresh rhythm under such a flood is a figure of bench/monitor.sh.
TEST_F(MonitorWindowTest, FloodOnBothChannelsLosesAndMixesNothing) {
    StartWithBothPorts();
    TForm1& f = *form1;
    const int lines = 20000;
    QByteArray gpsData, aisData;
    for (int i = 0; i < lines; ++i) {
        gpsData += QByteArray("$GPRMC,") + QByteArray::number(i) + ",A,4807.038,N,01131.000,E*6A\r\n";
        aisData += QByteArray("!AIVDM,1,1,,B,") + QByteArray::number(i) + ",0*5C\r\n";
    }
    // The writers run beside the event loop, as a receiver and a transponder would.
    std::thread gpsWriter([&] { gps.Write(gpsData); });
    std::thread aisWriter([&] { ais.Write(aisData); });
    // Joined whatever happens below, so a failed wait cannot leave a writer running.
    struct TJoin {
        std::thread& a;
        std::thread& b;
        ~TJoin() {
            a.join();
            b.join();
        }
    } join{gpsWriter, aisWriter};
    const bool all = WaitUntil([&] { return f.Memo1->LineCount() == lines && f.Memo2->LineCount() == lines; },
                               std::chrono::seconds(60));
    ASSERT_TRUE(all) << f.Memo1->LineCount() << " " << f.Memo2->LineCount();
    for (int i : {0, 1, 9999, lines - 1}) {
        EXPECT_EQ(f.Memo1->Line(i), (i ? QStringLiteral("\n") : QString()) + QStringLiteral("$GPRMC,") +
                                        QString::number(i) + QStringLiteral(",A,4807.038,N,01131.000,E*6A"));
        EXPECT_EQ(f.Memo2->Line(i), (i ? QStringLiteral("\n") : QString()) +
                                        QStringLiteral("!AIVDM,1,1,,B,") + QString::number(i) +
                                        QStringLiteral(",0*5C"));
    }
}

TEST_F(MonitorWindowTest, MissingGpsPortFailsSilentlyAndLeavesTheAisChannelRunning) {
    WriteFileBytes(iniPath, "[ComPort GPS]\r\nComNb=203\r\n[ComPort AIS]\r\nComNb=202\r\n");
    Start();
    TForm1& f = *form1;
    EXPECT_TRUE(errors.texts.isEmpty());
    EXPECT_FALSE(f.nrComm1->Active());
    EXPECT_EQ(f.nrComm1->ComPortNo(), 0);
    EXPECT_EQ(f.Com1Rec.RComNumber, 0);
    EXPECT_TRUE(f.VrLedOffGPS->Active());
    EXPECT_FALSE(f.VrLedOnGPS->Active());
    EXPECT_TRUE(f.nrComm2->Active());
    EXPECT_TRUE(f.VrLedOnAIS->Active());
    Refresh();
    EXPECT_EQ(f.Label7->text(), QStringLiteral("No port selected"));
    EXPECT_FALSE(f.BtnClose1->isEnabled());
    EXPECT_EQ(f.Label8->text(), QStringLiteral("Com202, 38400, None, 8, One"));
    EXPECT_TRUE(f.BtnClose2->isEnabled());
}

TEST_F(MonitorWindowTest, AVanishedDeviceShowsItsPortClosedAlsoAfterTheRefresh) {
    StartWithBothPorts();
    TForm1& f = *form1;
    gps.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return !f.nrComm1->Active(); }, std::chrono::seconds(10)));
    for (const char* moment : {"at the close", "after the refresh"}) {
        EXPECT_TRUE(f.VrLedOffGPS->Active()) << moment;
        EXPECT_FALSE(f.VrLedOnGPS->Active()) << moment;
        EXPECT_FALSE(f.BtnClose1->isEnabled()) << moment;
        EXPECT_TRUE(f.VrLedOnAIS->Active()) << moment;
        EXPECT_FALSE(f.VrLedOffAIS->Active()) << moment;
        EXPECT_TRUE(f.BtnClose2->isEnabled()) << moment;
        Refresh();
    }
    // The number stays for a device that may come back; the label shows the record.
    EXPECT_EQ(f.nrComm1->ComPortNo(), 201);
    EXPECT_EQ(f.Label7->text(), QStringLiteral("Com201, 4800, None, 8, One"));
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(MonitorWindowTest, SettingsFileValuesAreReadWithTheProfileRules) {
    // Lower-case names, a comment, hexadecimal, garbage, out-of-range values and a third
    // section.
    WriteFileBytes(iniPath, "; written by hand\r\n"
                            "[comport gps]\r\n"
                            "comnb = 0xC9\r\n"
                            "baudrate=96OO\r\n"
                            "databits=264\r\n"
                            "stopbits=0\r\n"
                            "parity=7\r\n"
                            "[Other]\r\nComNb=5\r\n"
                            "[ComPort AIS]\r\n"
                            "ComNb=65738\r\n" // 65738 & 0xFFFF = 202
                            "BaudRate=$2580\r\n"
                            "DataBits=3\r\n"
                            "StopBits=1\r\n"
                            "Parity=99999999999\r\n");
    Start();
    TForm1& f = *form1;
    EXPECT_EQ(f.nrComm1->ComPortNo(), 201);
    EXPECT_TRUE(f.nrComm1->Active());
    EXPECT_EQ(f.nrComm1->BaudRate(), 4800u); // not an integer: the default
    EXPECT_EQ(f.nrComm1->ByteSize(), 8);     // 264 -> low byte 8
    EXPECT_EQ(f.nrComm1->StopBits(), sbTwo); // only 1 reads as one stop bit
    EXPECT_EQ(static_cast<int>(f.nrComm1->Parity()), 7);
    EXPECT_EQ(f.Label7->text(), QStringLiteral("Com201, 4800, , 8, Two")); // no word for parity 7

    EXPECT_EQ(f.nrComm2->ComPortNo(), 202);
    EXPECT_EQ(f.nrComm2->BaudRate(), 9600u);
    EXPECT_EQ(f.nrComm2->ByteSize(), 8); // 3 is stored as 8
    EXPECT_EQ(f.nrComm2->StopBits(), sbOne);
    EXPECT_EQ(f.nrComm2->Parity(), pNone); // too large for 32 bits: the default
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(MonitorWindowTest, SettingsFileThatIsAFolderOrUnreadableGivesTheDefaults) {
    ASSERT_TRUE(QDir().mkpath(iniPath));
    Start();
    EXPECT_EQ(form1->Com1Rec, (TComParm{0, pNone, 8, sbOne, 4800}));
    EXPECT_EQ(form1->Com2Rec, (TComParm{0, pNone, 8, sbOne, 38400}));
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(MonitorWindowTest, CloseButtonClosesOneChannelAndTheOtherKeepsReceiving) {
    StartWithBothPorts();
    TForm1& f = *form1;
    gps.Write("first GPS line\r");
    ASSERT_TRUE(WaitForLines(f.Memo1, 1));
    gps.Write("half of a line");
    ASSERT_TRUE(WaitUntil([&] { return !f.PendingGPS().PendingBytes().isEmpty(); }));

    QTest::mouseClick(f.BtnClose1, Qt::LeftButton);
    EXPECT_FALSE(f.nrComm1->Active());
    EXPECT_EQ(f.nrComm1->ComPortNo(), 0);
    EXPECT_EQ(f.Com1Rec.RComNumber, 0);
    EXPECT_EQ(f.Com1Rec.RBaud, 4800);
    EXPECT_TRUE(f.VrLedOffGPS->Active());
    EXPECT_FALSE(f.VrLedOnGPS->Active());
    // The pane and the pending line stay as they are.
    EXPECT_EQ(PaneLines(f.Memo1), QStringList{QStringLiteral("first GPS line")});
    EXPECT_EQ(f.PendingGPS().PendingBytes(), QByteArray("half of a line"));

    ais.Write("AIS still here\r");
    ASSERT_TRUE(WaitForLines(f.Memo2, 1));
    EXPECT_EQ(f.Memo2->Line(0), QStringLiteral("AIS still here"));
    EXPECT_TRUE(f.nrComm2->Active());
    Refresh();
    EXPECT_EQ(f.Label7->text(), QStringLiteral("No port selected"));
    EXPECT_FALSE(f.BtnClose1->isEnabled());
    EXPECT_TRUE(f.BtnClose2->isEnabled());
    EXPECT_TRUE(f.VrLedOnAIS->Active());
    EXPECT_TRUE(errors.texts.isEmpty());
}

TEST_F(MonitorWindowTest, RsParamClosesBothPortsAndRestoresTheDefaults) {
    const QByteArray settings("[ComPort GPS]\r\nComNb=201\r\nBaudRate=9600\r\nParity=1\r\n"
                              "[ComPort AIS]\r\nComNb=202\r\nStopBits=2\r\n");
    WriteFileBytes(iniPath, settings);
    Start();
    TForm1& f = *form1;
    ASSERT_TRUE(f.nrComm1->Active() && f.nrComm2->Active());
    gps.Write("kept\r");
    ASSERT_TRUE(WaitForLines(f.Memo1, 1));

    int gpsCloses = 0;
    auto gpsClose = f.nrComm1->OnClose;
    f.nrComm1->OnClose = [&](QObject* sender) {
        ++gpsCloses;
        gpsClose(sender);
    };
    QTest::mouseClick(f.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(gpsCloses, 1);
    EXPECT_FALSE(f.nrComm1->Active());
    EXPECT_FALSE(f.nrComm2->Active());
    // The "Off" lamps light at once, through the close event.
    EXPECT_TRUE(f.VrLedOffGPS->Active());
    EXPECT_TRUE(f.VrLedOffAIS->Active());
    EXPECT_EQ(f.Com1Rec, (TComParm{0, pNone, 8, sbOne, 4800}));
    EXPECT_EQ(f.Com2Rec, (TComParm{0, pNone, 8, sbOne, 38400}));
    Refresh();
    EXPECT_EQ(f.Label7->text(), QStringLiteral("No port selected"));
    EXPECT_EQ(f.Label8->text(), QStringLiteral("No port selected"));
    EXPECT_FALSE(f.BtnClose1->isEnabled());
    EXPECT_FALSE(f.BtnClose2->isEnabled());
    EXPECT_EQ(PaneLines(f.Memo1), QStringList{QStringLiteral("kept")});
    EXPECT_EQ(FileBytes(iniPath), settings); // the button does not write the file

    // Pressed again with both channels closed: no close event at all.
    QTest::mouseClick(f.BitBtn1, Qt::LeftButton);
    EXPECT_EQ(gpsCloses, 1);
}

TEST_F(MonitorWindowTest, ClearingDuringAHalfReceivedLineKeepsTheWholeLine) {
    StartWithBothPorts();
    TForm1& f = *form1;
    gps.Write("one\r$GPGSV,first half");
    ASSERT_TRUE(WaitForLines(f.Memo1, 1));
    ASSERT_TRUE(WaitUntil([&] { return f.PendingGPS().PendingBytes() == "$GPGSV,first half"; }));
    QTest::mouseClick(f.btnClearGPStxt, Qt::LeftButton);
    EXPECT_EQ(f.Memo1->LineCount(), 0);
    gps.Write(",second half\r");
    ASSERT_TRUE(WaitForLines(f.Memo1, 1));
    EXPECT_EQ(PaneLines(f.Memo1), QStringList{QStringLiteral("$GPGSV,first half,second half")});
}

TEST_F(MonitorWindowTest, AltEClearsTheGpsPaneAndTheAisButtonStaysReachable) {
    Start();
    TForm1& f = *form1;
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.Memo2->setFocus();
    QTest::keyClick(&f, Qt::Key_E, Qt::AltModifier);
    // An accelerator presses its button and lets it go a moment later: the click.
    EXPECT_TRUE(WaitUntil([&] { return f.Memo1->LineCount() == 0; }, std::chrono::seconds(2)));
    EXPECT_EQ(PaneLines(f.Memo2), QStringList{QStringLiteral("Memo AIS")});
    // Tab from the GPS button reaches the AIS one; the space bar presses it.
    f.btnClearGPStxt->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), f.btnClearAIStxt);
    QTest::keyClick(f.btnClearAIStxt, Qt::Key_Space);
    EXPECT_EQ(f.Memo2->LineCount(), 0);
}

TEST_F(MonitorWindowTest, HelpButtonIsHiddenButItsHandlerShowsTheHelpWindow) {
    Start();
    EXPECT_FALSE(form1->spbtnHelp->isVisible());
    form1->spbtnHelp->click(); // a click from code still reaches the handler
    EXPECT_TRUE(form2->isVisible());
    form2->hide();
}
