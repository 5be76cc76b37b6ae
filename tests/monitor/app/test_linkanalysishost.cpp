// The link analysis and the continuous capture in the program: the real window on two
// pseudo-terminals, the host added as the program adds it, bytes written by the test.
#include <QAbstractButton>

#include "analysiswindow.h"
#include "linkanalysishost.h"
#include "monitortestkit.h"

#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

namespace {

class LinkAnalysisHostTest : public MonitorWindowTest {
protected:
    TLinkAnalysisHost* host = nullptr;

    void StartWithHost() {
        StartWithBothPorts();
        host = new TLinkAnalysisHost(*form1);
    }

    // The texts of the pane's context menu, read while it is open, then closed.
    QStringList MenuTexts(TMemoPane* pane) {
        QStringList texts;
        QTimer::singleShot(50, [&] {
            if (auto* menu = pane->findChild<QMenu*>(QStringLiteral("memoPaneMenu"))) {
                for (QAction* action : menu->actions())
                    if (!action->isSeparator()) texts << action->text();
                menu->close();
            }
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10), pane->mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(pane->viewport(), &event);
        return texts;
    }
};

// "$GPGGA,1*hh" computed here.
QByteArray Sentence(const QByteArray& body) {
    unsigned char sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    return '$' + body + '*' + QByteArray::number(sum, 16).rightJustified(2, '0').toUpper();
}

} // namespace

// The analysis counts what the pane got, the window shows it and exports it, refreshes
// only while shown, and resets; the panes get exactly what they got without the host.
TEST_F(LinkAnalysisHostTest, WindowShowsTheFiguresOfTheBytesThePanesReceived) {
    StartWithHost();
    QByteArray bad = Sentence("GPGGA,2");
    bad[bad.size() - 1] = bad[bad.size() - 1] == '0' ? '1' : '0';
    const QByteArray sent = Sentence("GPGGA,1") + "\r\n" + bad + "\r\n" + Sentence("GPGGA,3") + "\r\n$GPRMC,1\n";
    FeedWhileProcessing(gps, sent);
    ASSERT_TRUE(WaitForLines(form1->Memo1, 3));
    ASSERT_TRUE(WaitUntil([&] { return host->Tap(0).Analysis().Figures(0).Bytes == std::uint64_t(sent.size()); }));
    EXPECT_EQ(PaneLines(form1->Memo1),
              QStringList({QString::fromLatin1(Sentence("GPGGA,1")), QStringLiteral("\n") + QString::fromLatin1(bad),
                           QStringLiteral("\n") + QString::fromLatin1(Sentence("GPGGA,3"))}));

    EXPECT_EQ(MenuTexts(form1->Memo1).mid(6), QStringList({"Analyse de la liaison", "Enregistrer en continu…"}));

    // The keyboard shortcut opens it from the main window.
    form1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form1.get()));
    QTest::keyClick(form1.get(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    TAnalysisWindow* window = host->Window();
    ASSERT_TRUE(window && window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Analyse de la liaison"));
    QTableWidget* table = window->Table(0);
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("GPGGA"));
    EXPECT_EQ(table->item(0, 2)->text(), QStringLiteral("3"));
    EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("1"));
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("✖"));
    EXPECT_EQ(table->item(1, 1)->text(), QStringLiteral("✔"));
    // Sorted by count, descending: GPGGA (3) before GPRMC (1) whatever their names.
    table->sortByColumn(2, Qt::DescendingOrder);
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("GPGGA"));
    table->sortByColumn(0, Qt::DescendingOrder);
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("GPRMC"));
    // 1 false of 3 checked; one sentence without checksum; the GPRMC line ended by LF.
    const QString diagnosis = window->Diagnosis(0)->text();
    EXPECT_TRUE(diagnosis.contains(QStringLiteral("33,3 % de sommes de contrôle fausses"))) << diagnosis.toStdString();
    EXPECT_TRUE(diagnosis.contains(QStringLiteral("Lignes terminées par LF seul : les volets attendent un CR")));

    const QString csv = dir.filePath(QStringLiteral("gps.csv"));
    QString reason;
    ASSERT_TRUE(window->ExportTo(0, csv, &reason)) << reason.toStdString();
    const QList<QByteArray> rows = FileBytes(csv).split('\n');
    ASSERT_GE(rows.size(), 4);
    EXPECT_TRUE(rows[1].startsWith("GPGGA,3,2,1,0,"));
    EXPECT_TRUE(rows[2].startsWith("GPRMC,1,0,0,1,"));
    EXPECT_TRUE(rows[3].startsWith("(other),0,"));

    // At most twice a second while shown, never while hidden.
    int before = window->Refreshes();
    QTest::qWait(1100);
    EXPECT_GE(window->Refreshes() - before, 1);
    EXPECT_LE(window->Refreshes() - before, 3);
    window->hide();
    before = window->Refreshes();
    QTest::qWait(1100);
    EXPECT_EQ(window->Refreshes(), before);

    window->ResetButton(0)->click();
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_EQ(host->Tap(0).Analysis().Figures(0).Bytes, 0u);
}

// Every byte as received, stamped or not; a full disk and a removed folder each stop the
// capture with one message while the pane goes on.
TEST_F(LinkAnalysisHostTest, CaptureKeepsEveryByteAndStopsOnceWhenTheFileCannotBeWritten) {
    StartWithHost();
    QSignalSpy failed(host, &TLinkAnalysisHost::CaptureFailed);
    const QString raw = dir.filePath(QStringLiteral("gps.log"));
    const QString stamped = dir.filePath(QStringLiteral("ais.log"));
    QString reason;
    ASSERT_TRUE(host->StartCapture(0, raw, false, &reason)) << reason.toStdString();
    ASSERT_TRUE(host->StartCapture(1, stamped, true, &reason)) << reason.toStdString();
    EXPECT_EQ(MenuTexts(form1->Memo1).last(), QStringLiteral("Arrêter l'enregistrement"));

    QByteArray binary("\xB5\x62\x01\x07\x00\x0D\x0A\xFF", 8);
    const QByteArray gpsBytes = "$GPGGA,1\r\n" + binary + "\r\nhalf";
    FeedWhileProcessing(gps, gpsBytes);
    FeedWhileProcessing(ais, "!AIVDM,1\r\n!AIVDM,2\r\n");
    ASSERT_TRUE(WaitForLines(form1->Memo2, 2));
    ASSERT_TRUE(WaitUntil([&] { return FileBytes(raw).size() == gpsBytes.size(); }));
    EXPECT_EQ(FileBytes(raw), gpsBytes);
    const QList<QByteArray> lines = FileBytes(stamped).split('\n');
    ASSERT_EQ(lines.size(), 3);
    const QRegularExpression shape(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z !AIVDM,[12]\\r$"));
    EXPECT_TRUE(shape.match(QString::fromLatin1(lines[0])).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(shape.match(QString::fromLatin1(lines[1])).hasMatch()) << lines[1].toStdString();
    host->StopCapture(0);
    FeedWhileProcessing(gps, "\r\n");
    ASSERT_TRUE(WaitForLines(form1->Memo1, 4));
    EXPECT_EQ(FileBytes(raw), gpsBytes);

    // A full disk: the first write fails, one message, the pane goes on.
    ASSERT_TRUE(host->StartCapture(0, QStringLiteral("/dev/full"), false, &reason));
    FeedWhileProcessing(gps, "$GPGGA,5\r\n$GPGGA,6\r\n");
    ASSERT_TRUE(WaitForLines(form1->Memo1, 6));
    FeedWhileProcessing(gps, "$GPGGA,7\r\n");
    ASSERT_TRUE(WaitForLines(form1->Memo1, 7));
    ASSERT_EQ(failed.count(), 1);
    EXPECT_EQ(failed[0][0].toInt(), 0);
    EXPECT_TRUE(failed[0][1].toString().contains(QStringLiteral("No space left on device")));
    EXPECT_FALSE(host->Tap(0).Capture().IsOpen());

    // A removed folder: found by the periodic check.
    const QString folder = dir.filePath(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(host->StartCapture(0, folder + QStringLiteral("/gps.log"), false, &reason));
    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(WaitUntil([&] { return failed.count() == 2; }, std::chrono::seconds(5)));
    EXPECT_TRUE(failed[1][1].toString().contains(QStringLiteral("canal GPS est arrêté")));
    FeedWhileProcessing(gps, "$GPGGA,8\r\n");
    EXPECT_TRUE(WaitForLines(form1->Memo1, 8));
    EXPECT_EQ(failed.count(), 2);
}
