// The channel text pane as a real widget (offscreen): what it holds and saves, editing
// through real key and mouse events while lines arrive, following the tail, and what it
// paints.
#include "memopane.h"
#include "printers.h"

#include "testenv.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QPixmap>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using TPosition = TMemoPane::TPosition;

// A pane in a window of its own, shown, with plain colours for the pixel checks.
class MemoPaneTest : public testing::Test {
protected:
    void SetUp() override {
        QPalette colours = pane.palette();
        colours.setColor(QPalette::Base, Qt::white);
        colours.setColor(QPalette::Text, Qt::black);
        colours.setColor(QPalette::Highlight, QColor(0, 0, 255));
        colours.setColor(QPalette::HighlightedText, Qt::white);
        pane.setPalette(colours);
        pane.resize(704, 202);
        pane.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
        pane.activateWindow();
        pane.setFocus();
        QApplication::processEvents();
    }

    void AppendBytes(const QByteArray& line) {
        pane.AppendLine(line.constData(), static_cast<std::size_t>(line.size()));
    }
    void AppendNumbered(int from, int count) {
        for (int i = from; i < from + count; ++i)
            AppendBytes(QByteArray("\n$GPGGA,") + QByteArray::number(i));
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&pane, key, modifiers);
    }
    QStringList Lines() const {
        QStringList lines;
        for (qsizetype i = 0; i < pane.LineCount(); ++i)
            lines.append(pane.Line(i));
        return lines;
    }
    QPoint CellCentre(TPosition position) const { return pane.CellRect(position).center(); }

    QImage Snapshot() {
        pane.FlushPendingAppends();
        QApplication::processEvents();
        return pane.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // Pixels of a cell that are ink of the given kind.
    static int CountPixels(const QImage& image, const QRect& cell, const std::function<bool(QRgb)>& isInk) {
        int count = 0;
        const QRect area = cell.intersected(image.rect());
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += isInk(image.pixel(x, y)) ? 1 : 0;
        return count;
    }
    static bool IsDark(QRgb pixel) { return qGray(pixel) < 140; }
    static bool IsHighlight(QRgb pixel) {
        return qBlue(pixel) > 200 && qRed(pixel) < 60 && qGreen(pixel) < 60;
    }

    TMemoPane pane;
};

} // namespace

// ---- content and saving ----

TEST_F(MemoPaneTest, ReceivedLinesAreSavedByteForByteWithCrLf) {
    // The LF after a CR on the wire starts the next line: saved, it gives CR LF LF.
    AppendBytes("$GPGGA,1,2");
    AppendBytes("\n$GPRMC");
    AppendBytes(QByteArray("\ncaf\xE9", 5));
    AppendBytes(QByteArray());
    AppendBytes(QByteArray("a\0b", 3));
    EXPECT_EQ(pane.SaveBytes(), QByteArray("$GPGGA,1,2\r\n\n$GPRMC\r\n\ncaf\xE9\r\n\r\na\0b\r\n", 35));
    ASSERT_EQ(pane.LineCount(), 5);
    EXPECT_EQ(pane.Line(2), QString::fromUtf16(u"\ncaf\u00E9"));
    EXPECT_EQ(pane.Line(3), QString());
    EXPECT_EQ(pane.Text(), QString::fromUtf16(u"$GPGGA,1,2\r\n\n$GPRMC\r\n\ncaf\u00E9\r\n\r\na\0b", 33));
}

TEST_F(MemoPaneTest, EmptyPaneAndEmptyLineSaveDifferently) {
    EXPECT_EQ(pane.LineCount(), 0);
    EXPECT_EQ(pane.SaveBytes(), QByteArray());
    pane.AppendLine(QString());
    EXPECT_EQ(pane.LineCount(), 1);
    EXPECT_EQ(pane.SaveBytes(), QByteArray("\r\n"));
    pane.Clear();
    EXPECT_EQ(pane.LineCount(), 0);
    EXPECT_EQ(pane.SaveBytes(), QByteArray());
}

TEST_F(MemoPaneTest, TextOutsideTheCodePageIsShownAsIsAndSavedAsQuestionMarks) {
    pane.AppendLine(QString::fromUtf16(u"\u20AC \u0142 \u00E9"));
    EXPECT_EQ(pane.Line(0), QString::fromUtf16(u"\u20AC \u0142 \u00E9"));
    EXPECT_EQ(pane.SaveBytes(), QByteArray("\x80 ? \xE9\r\n"));
}

TEST_F(MemoPaneTest, SetTextSplitsAtEveryKindOfLineBreak) {
    pane.SetText(QStringLiteral("a\r\nb\nc\rd"));
    EXPECT_EQ(Lines(), (QStringList{"a", "b", "c", "d"}));
    pane.SetText(QStringLiteral("MemoGPS"));
    EXPECT_EQ(Lines(), QStringList{"MemoGPS"});
    EXPECT_EQ(pane.SaveBytes(), QByteArray("MemoGPS\r\n"));
    pane.SetText(QStringLiteral("x\r\n"));
    EXPECT_EQ(Lines(), (QStringList{"x", ""}));
    pane.SetText(QString());
    EXPECT_EQ(pane.LineCount(), 0);
    // Received lines go below the first line.
    pane.SetText(QStringLiteral("Memo AIS"));
    AppendBytes("!AIVDM");
    EXPECT_EQ(pane.SaveBytes(), QByteArray("Memo AIS\r\n!AIVDM\r\n"));
}

TEST_F(MemoPaneTest, ClearRemovesTypedAndReceivedText) {
    pane.SetText(QStringLiteral("MemoGPS"));
    Key(Qt::Key_End);
    QTest::keyClicks(&pane, "typed");
    AppendNumbered(0, 3);
    pane.Clear();
    EXPECT_EQ(pane.LineCount(), 0);
    EXPECT_EQ(pane.SaveBytes(), QByteArray());
    EXPECT_EQ(pane.CaretPosition(), TPosition{});
    EXPECT_FALSE(pane.CanUndo());
    // Lines received after the clear start the pane again.
    AppendBytes("$GPGSV");
    EXPECT_EQ(pane.SaveBytes(), QByteArray("$GPGSV\r\n"));
}

TEST_F(MemoPaneTest, SaveToFileWritesWhatSaveBytesGivesAndReplacesOldContent) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("capture.txt"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(5 << 20, 'Z'));
    }
    // More than the write buffer, a line longer than it, and a typed line.
    for (int i = 0; i < 30000; ++i)
        AppendBytes(QByteArray("\n$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39 #") +
                    QByteArray::number(i));
    AppendBytes(QByteArray(3 << 20, 'L'));
    pane.AppendLine(QString::fromUtf16(u"\u0142\u00E9"));
    QString error = QStringLiteral("untouched");
    ASSERT_TRUE(pane.SaveToFile(path, &error));
    EXPECT_EQ(error, QStringLiteral("untouched"));
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray bytes = saved.readAll();
    EXPECT_EQ(bytes.size(), pane.SaveBytes().size());
    EXPECT_TRUE(bytes == pane.SaveBytes());
    EXPECT_TRUE(bytes.endsWith("?\xE9\r\n"));

    // An empty pane gives an empty file.
    pane.Clear();
    ASSERT_TRUE(pane.SaveToFile(path, &error));
    EXPECT_EQ(QFile(path).size(), 0);
}

TEST_F(MemoPaneTest, SaveToFileReportsTheSystemsReason) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    AppendBytes("$GPGGA");
    QString error;
    const QString missing = folder.filePath(QStringLiteral("no/such/folder/capture.txt"));
    EXPECT_FALSE(pane.SaveToFile(missing, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("No such file or directory"))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(missing));
    error.clear();
    EXPECT_FALSE(pane.SaveToFile(folder.path(), &error));
    EXPECT_FALSE(error.isEmpty());
    // The device that is always full: the failure comes from writing, not opening.
    if (QFile::exists(QStringLiteral("/dev/full"))) {
        error.clear();
        EXPECT_FALSE(pane.SaveToFile(QStringLiteral("/dev/full"), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("No space left on device"))) << error.toStdString();
    }
}

TEST_F(MemoPaneTest, AMillionLinesAreAllKept) {
    std::uint64_t expectedBytes = 0;
    for (int i = 0; i < 1000000; ++i) {
        const QByteArray line =
            QByteArray("\n!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26 ") + QByteArray::number(i);
        pane.AppendLine(line.constData(), static_cast<std::size_t>(line.size()));
        expectedBytes += static_cast<std::uint64_t>(line.size()) + 2;
    }
    ASSERT_EQ(pane.LineCount(), 1000000);
    EXPECT_EQ(pane.Line(0), QStringLiteral("\n!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26 0"));
    EXPECT_EQ(pane.Line(999999), QStringLiteral("\n!AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0*26 999999"));
    EXPECT_EQ(static_cast<std::uint64_t>(pane.SaveBytes().size()), expectedBytes);
    pane.FlushPendingAppends();
    EXPECT_EQ(pane.verticalScrollBar()->value(), pane.verticalScrollBar()->maximum());
    EXPECT_GE(pane.FirstVisibleLine() + pane.VisibleLineCount(), 1000000);
}

// ---- following new lines ----

TEST_F(MemoPaneTest, ViewFollowsNewLinesOnlyWhileAtTheBottom) {
    QScrollBar* vertical = pane.verticalScrollBar();
    AppendNumbered(0, 200);
    // The view catches up by itself, without being asked.
    ASSERT_TRUE(
        WaitUntil([&] { return vertical->maximum() > 0 && vertical->value() == vertical->maximum(); }));
    EXPECT_GE(pane.FirstVisibleLine() + pane.VisibleLineCount(), 200);

    vertical->setValue(20);
    AppendNumbered(200, 200);
    pane.FlushPendingAppends();
    EXPECT_EQ(vertical->value(), 20);
    EXPECT_GT(vertical->maximum(), 350);

    vertical->setValue(vertical->maximum());
    AppendNumbered(400, 50);
    pane.FlushPendingAppends();
    EXPECT_EQ(vertical->value(), vertical->maximum());
    EXPECT_GE(pane.FirstVisibleLine() + pane.VisibleLineCount(), 450);
}

TEST_F(MemoPaneTest, KeepsFollowingThroughManyCatchUpsAndPaints) {
    // Lines of growing width, with the view painting between deliveries, as under live load;
    // a paint that lands just before a delivery must not make the view lose the tail.
    QScrollBar* vertical = pane.verticalScrollBar();
    pane.SetText(QStringLiteral("MemoGPS"));
    for (int round = 0; round < 20; ++round) {
        pane.viewport()->repaint();
        for (int i = 0; i < 30; ++i)
            AppendBytes(QByteArray("\n$GPGSV,") + QByteArray(round * 3, 'x') + QByteArray::number(i));
        ProcessEventsFor(std::chrono::milliseconds(40));
        ASSERT_EQ(vertical->value(), vertical->maximum()) << "round " << round;
        ASSERT_GE(pane.FirstVisibleLine() + pane.VisibleLineCount(), pane.LineCount()) << "round " << round;
    }
}

TEST_F(MemoPaneTest, AFloodOfLinesIsPaintedOncePerCatchUp) {
    int paints = 0;
    class TPaintCounter : public QObject {
    public:
        explicit TPaintCounter(int& count) : fCount(count) {}
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint) ++fCount;
            return false;
        }
        int& fCount;
    } counter(paints);
    pane.viewport()->installEventFilter(&counter);
    ProcessEventsFor(std::chrono::milliseconds(50));
    paints = 0;
    AppendNumbered(0, 20000);
    EXPECT_EQ(paints, 0); // appending alone never paints
    ASSERT_TRUE(WaitUntil([&] { return paints > 0; }));
    ProcessEventsFor(std::chrono::milliseconds(100));
    EXPECT_LE(paints, 2);
    EXPECT_EQ(pane.verticalScrollBar()->value(), pane.verticalScrollBar()->maximum());
    pane.viewport()->removeEventFilter(&counter);
}

// ---- editing while lines arrive ----

TEST_F(MemoPaneTest, TypingInTheMiddleWhileLinesArrive) {
    pane.SetText(QStringLiteral("MemoGPS\nabcdef\nlast"));
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, CellCentre({1, 3}) - QPoint(2, 0));
    ASSERT_EQ(pane.CaretPosition(), (TPosition{1, 3}));
    AppendNumbered(0, 100);
    QTest::keyClicks(&pane, "XY");
    AppendNumbered(100, 100);
    Key(Qt::Key_Backspace);
    Key(Qt::Key_Delete);
    pane.FlushPendingAppends();
    Key(Qt::Key_Return);
    AppendNumbered(200, 5);
    QTest::keyClicks(&pane, "Z");
    ASSERT_EQ(pane.LineCount(), 209);
    EXPECT_EQ(pane.Line(0), QStringLiteral("MemoGPS"));
    EXPECT_EQ(pane.Line(1), QStringLiteral("abcX"));
    EXPECT_EQ(pane.Line(2), QStringLiteral("Zef"));
    EXPECT_EQ(pane.Line(3), QStringLiteral("last"));
    EXPECT_EQ(pane.Line(4), QStringLiteral("\n$GPGGA,0"));
    EXPECT_EQ(pane.Line(208), QStringLiteral("\n$GPGGA,204"));
    EXPECT_EQ(pane.CaretPosition(), (TPosition{2, 1}));
    EXPECT_TRUE(pane.SaveBytes().startsWith("MemoGPS\r\nabcX\r\nZef\r\nlast\r\n\n$GPGGA,0\r\n"));
}

TEST_F(MemoPaneTest, SelectionStaysOnItsTextWhileLinesArrive) {
    pane.SetText(QStringLiteral("first line\nsecond line\nthird"));
    pane.SetCaretPosition({0, 6});
    Key(Qt::Key_Down, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    const QString selected = pane.SelectedText();
    EXPECT_EQ(selected, QStringLiteral("line\r\nsecond "));
    AppendNumbered(0, 1000);
    pane.FlushPendingAppends();
    EXPECT_EQ(pane.SelectedText(), selected);
    EXPECT_EQ(pane.AnchorPosition(), (TPosition{0, 6}));
    EXPECT_EQ(pane.CaretPosition(), (TPosition{1, 7}));
    // Typing replaces exactly the selection.
    QTest::keyClicks(&pane, "_");
    EXPECT_EQ(pane.Line(0), QStringLiteral("first _line"));
    EXPECT_EQ(pane.Line(1), QStringLiteral("third"));
    EXPECT_EQ(pane.LineCount(), 1002);
}

TEST_F(MemoPaneTest, CaretKeysMoveAsInAnEditControl) {
    pane.SetText(QStringLiteral("0123456789\nab\n0123456789\nxyz"));
    pane.SetCaretPosition({0, 8});
    Key(Qt::Key_Down); // a shorter line: the caret goes to its end
    EXPECT_EQ(pane.CaretPosition(), (TPosition{1, 2}));
    Key(Qt::Key_Down); // and comes back to its column below
    EXPECT_EQ(pane.CaretPosition(), (TPosition{2, 8}));
    Key(Qt::Key_Home);
    EXPECT_EQ(pane.CaretPosition(), (TPosition{2, 0}));
    Key(Qt::Key_Left); // to the end of the line above
    EXPECT_EQ(pane.CaretPosition(), (TPosition{1, 2}));
    Key(Qt::Key_Right);
    EXPECT_EQ(pane.CaretPosition(), (TPosition{2, 0}));
    Key(Qt::Key_End);
    EXPECT_EQ(pane.CaretPosition(), (TPosition{2, 10}));
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(pane.CaretPosition(), (TPosition{3, 3}));
    Key(Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pane.AnchorPosition(), (TPosition{3, 3}));
    EXPECT_EQ(pane.CaretPosition(), (TPosition{0, 0}));
    EXPECT_EQ(pane.SelectedText(), QStringLiteral("0123456789\r\nab\r\n0123456789\r\nxyz"));
    Key(Qt::Key_Right); // collapses the selection at its end
    EXPECT_FALSE(pane.HasSelection());
    EXPECT_EQ(pane.CaretPosition(), (TPosition{3, 3}));

    // Page keys move by a view's worth of lines.
    pane.Clear();
    AppendNumbered(0, 300);
    pane.FlushPendingAppends();
    pane.SetCaretPosition({0, 0});
    const int page = pane.verticalScrollBar()->pageStep();
    Key(Qt::Key_PageDown);
    EXPECT_EQ(pane.CaretPosition().line, page);
    EXPECT_LE(pane.FirstVisibleLine(), page);
    EXPECT_GT(pane.FirstVisibleLine() + pane.VisibleLineCount(), page);
    Key(Qt::Key_PageUp);
    EXPECT_EQ(pane.CaretPosition().line, 0);
}

TEST_F(MemoPaneTest, BackspaceDeleteAndEnterJoinAndSplitLines) {
    pane.SetText(QStringLiteral("abc\ndef"));
    pane.SetCaretPosition({1, 0});
    Key(Qt::Key_Backspace);
    EXPECT_EQ(Lines(), QStringList{"abcdef"});
    EXPECT_EQ(pane.CaretPosition(), (TPosition{0, 3}));
    Key(Qt::Key_Return);
    EXPECT_EQ(Lines(), (QStringList{"abc", "def"}));
    Key(Qt::Key_Up);
    Key(Qt::Key_End);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Lines(), QStringList{"abcdef"});
    // At the very start and end nothing happens.
    pane.SetCaretPosition({0, 0});
    Key(Qt::Key_Backspace);
    pane.SetCaretPosition({0, 6});
    Key(Qt::Key_Delete);
    EXPECT_EQ(Lines(), QStringList{"abcdef"});
    // Deleting everything leaves an empty pane, not one empty line.
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_Delete);
    EXPECT_EQ(pane.LineCount(), 0);
    EXPECT_EQ(pane.SaveBytes(), QByteArray());
    // Typing into an empty pane creates its first line.
    QTest::keyClicks(&pane, "hi");
    EXPECT_EQ(pane.SaveBytes(), QByteArray("hi\r\n"));
}

TEST_F(MemoPaneTest, TypedCharactersOutsideTheCodePageAreShownAndSavedAsQuestionMark) {
    pane.SetText(QStringLiteral("ab"));
    pane.SetCaretPosition({0, 1});
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf16(u"\u0142\u00E9"));
    QApplication::sendEvent(&pane, &press);
    EXPECT_EQ(pane.Line(0), QString::fromUtf16(u"a\u0142\u00E9b"));
    EXPECT_EQ(pane.SaveBytes(), QByteArray("a?\xE9"
                                           "b\r\n"));
    // Ctrl+letter is a command, never text.
    Key(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(pane.Line(0), QString::fromUtf16(u"a\u0142\u00E9b"));
}

TEST_F(MemoPaneTest, CopyAndPasteKeepLinesExactly) {
    AppendBytes("$GPGGA,1");
    AppendBytes("\n$GPRMC,2");
    AppendBytes("\n$GPGSV,3");
    pane.SetCaretPosition({0, 6});
    pane.SetCaretPosition({2, 3}, true);
    Key(Qt::Key_C, Qt::ControlModifier);
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    // Other programs get LF line ends.
    EXPECT_EQ(copied->text(), QStringLiteral(",1\n\n$GPRMC,2\n\n$G"));
    // Pasted back into a pane, the line feeds that start received lines stay characters.
    Key(Qt::Key_End, Qt::ControlModifier);
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(Lines(), (QStringList{"$GPGGA,1", "\n$GPRMC,2", "\n$GPGSV,3,1", "\n$GPRMC,2", "\n$G"}));
    EXPECT_EQ(pane.CaretPosition(), (TPosition{4, 3}));

    // Plain text from elsewhere splits at any line break.
    QApplication::clipboard()->setText(QStringLiteral("one\ntwo\r\nthree"));
    pane.SetCaretPosition({0, 0});
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(pane.Line(0), QStringLiteral("one"));
    EXPECT_EQ(pane.Line(1), QStringLiteral("two"));
    EXPECT_EQ(pane.Line(2), QStringLiteral("three$GPGGA,1"));

    // Cut removes what it copies.
    pane.SetCaretPosition({1, 0});
    pane.SetCaretPosition({2, 5}, true);
    Key(Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("two\nthree"));
    EXPECT_EQ(pane.Line(1), QStringLiteral("$GPGGA,1"));
}

TEST_F(MemoPaneTest, UndoTakesBackARunOfTypingAndADeletion) {
    AppendBytes("abc");
    AppendBytes("\nline two");
    AppendBytes("\nline three");
    const QByteArray original = pane.SaveBytes();
    pane.SetCaretPosition({0, 3});
    QTest::keyClicks(&pane, "xyz");
    EXPECT_EQ(pane.Line(0), QStringLiteral("abcxyz"));
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pane.SaveBytes(), original);
    EXPECT_EQ(pane.CaretPosition(), (TPosition{0, 3}));

    pane.SetCaretPosition({0, 1});
    pane.SetCaretPosition({2, 2}, true);
    Key(Qt::Key_Delete);
    EXPECT_EQ(Lines(), QStringList{"aine three"});
    AppendBytes("\nlater");
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pane.SaveBytes(), original + "\nlater\r\n");
    EXPECT_EQ(pane.SelectedText(), QStringLiteral("bc\r\n\nline two\r\n\nl"));
    EXPECT_FALSE(pane.CanUndo());
}

TEST_F(MemoPaneTest, UndoOfEmptyingOrFillingAnEmptyPaneKeepsLaterLines) {
    // Everything deleted, then a line arrives: undo brings the old lines back above it.
    AppendBytes("one");
    AppendBytes("\ntwo");
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_Delete);
    ASSERT_EQ(pane.LineCount(), 0);
    AppendBytes("\nthree");
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Lines(), (QStringList{"one", "\ntwo", "\nthree"}));

    // Typing into an empty pane, then a line arrives: undo removes the typed line whole.
    pane.Clear();
    QTest::keyClicks(&pane, "ab");
    Key(Qt::Key_Return);
    QTest::keyClicks(&pane, "c");
    AppendBytes("\nfour");
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Lines(), QStringList{"\nfour"});
    EXPECT_EQ(pane.CaretPosition(), TPosition{});
}

TEST_F(MemoPaneTest, MouseClickDragAndDoubleClick) {
    pane.SetText(QStringLiteral("$GPGGA,123519,4807.038,N\nsecond line here"));
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {}, CellCentre({0, 9}) - QPoint(2, 0));
    EXPECT_EQ(pane.CaretPosition(), (TPosition{0, 9}));
    // Right of a line's end puts the caret at its end.
    QTest::mouseClick(pane.viewport(), Qt::LeftButton, {},
                      QPoint(pane.viewport()->width() - 5, CellCentre({1, 0}).y()));
    EXPECT_EQ(pane.CaretPosition(), (TPosition{1, 16}));

    QTest::mousePress(pane.viewport(), Qt::LeftButton, {}, CellCentre({0, 2}) - QPoint(2, 0));
    QTest::mouseMove(pane.viewport(), CellCentre({1, 6}) - QPoint(2, 0));
    QTest::mouseRelease(pane.viewport(), Qt::LeftButton, {}, CellCentre({1, 6}) - QPoint(2, 0));
    EXPECT_EQ(pane.AnchorPosition(), (TPosition{0, 2}));
    EXPECT_EQ(pane.CaretPosition(), (TPosition{1, 6}));
    EXPECT_EQ(pane.SelectedText(), QStringLiteral("PGGA,123519,4807.038,N\r\nsecond"));

    QTest::mouseDClick(pane.viewport(), Qt::LeftButton, {}, CellCentre({0, 9}));
    EXPECT_EQ(pane.SelectedText(), QStringLiteral("123519"));
}

TEST_F(MemoPaneTest, ContextMenuOffersTheEditActions) {
    pane.SetText(QStringLiteral("alpha beta"));
    pane.SetCaretPosition({0, 6});
    pane.SetCaretPosition({0, 10}, true);
    // Picks one action of the menu once it is open, and reports what was enabled.
    auto pick = [&](const QString& action) {
        QStringList enabled;
        QTimer::singleShot(0, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            for (QAction* entry : menu->actions())
                if (entry->isEnabled() && !entry->objectName().isEmpty()) enabled.append(entry->objectName());
            if (QAction* chosen = menu->findChild<QAction*>(action)) chosen->trigger();
            menu->close();
        });
        const QPoint at = CellCentre({0, 2});
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, pane.viewport()->mapToGlobal(at));
        QApplication::sendEvent(pane.viewport(), &event);
        return enabled;
    };
    QApplication::clipboard()->clear();
    EXPECT_EQ(pick(QStringLiteral("actionCut")),
              (QStringList{"actionCut", "actionCopy", "actionDelete", "actionSelectAll"}));
    EXPECT_EQ(pane.Line(0), QStringLiteral("alpha "));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("beta"));
    pick(QStringLiteral("actionPaste"));
    EXPECT_EQ(pane.Line(0), QStringLiteral("alpha beta"));
    pick(QStringLiteral("actionUndo"));
    EXPECT_EQ(pane.Line(0), QStringLiteral("alpha "));
    pick(QStringLiteral("actionSelectAll"));
    EXPECT_EQ(pane.SelectedText(), QStringLiteral("alpha "));
}

// ---- painting ----

TEST_F(MemoPaneTest, PaintsTheVisibleCharactersInTheirCells) {
    // A leading LF takes no cell; a tab reaches the next multiple of eight columns.
    AppendBytes("MM M");
    AppendBytes("\nM");
    AppendBytes("\tM");
    const QImage image = Snapshot();
    EXPECT_GT(CountPixels(image, pane.CellRect({0, 0}), IsDark), 4);
    EXPECT_GT(CountPixels(image, pane.CellRect({0, 1}), IsDark), 4);
    EXPECT_EQ(CountPixels(image, pane.CellRect({0, 2}), IsDark), 0);
    EXPECT_GT(CountPixels(image, pane.CellRect({0, 3}), IsDark), 4);
    EXPECT_EQ(CountPixels(image, pane.CellRect({0, 4}), IsDark), 0);
    const double cellWidth = (pane.CellRect({0, 4}).left() - pane.CellRect({0, 0}).left()) / 4.0;
    auto cell = [&](qsizetype line, int column) {
        const QRect first = pane.CellRect({line, 0});
        return QRect(first.left() + static_cast<int>(column * cellWidth), first.top(), first.width(),
                     first.height());
    };
    // Line 1: the M sits in the first column, where the invisible LF is.
    EXPECT_EQ(pane.CellRect({1, 1}).left(), pane.CellRect({0, 0}).left());
    EXPECT_GT(CountPixels(image, cell(1, 0), IsDark), 4);
    EXPECT_EQ(CountPixels(image, cell(1, 1), IsDark), 0);
    // Line 2: the M is in column 8, blanks before it.
    EXPECT_NEAR(pane.CellRect({2, 1}).left(), cell(2, 8).left(), 1);
    EXPECT_GT(CountPixels(image, cell(2, 8), IsDark), 4);
    for (int column = 0; column < 8; ++column)
        EXPECT_EQ(CountPixels(image, cell(2, column), IsDark), 0) << "column " << column;
    // Nothing below the last line.
    const QRect below(0, pane.CellRect({3, 0}).top(), pane.viewport()->width(), pane.viewport()->height());
    EXPECT_EQ(CountPixels(image, below, IsDark), 0);
}

TEST_F(MemoPaneTest, PaintsTheSelectionAndFollowsHorizontalScrolling) {
    pane.SetText(QStringLiteral("MMMMMMMM\nMMMMMMMM"));
    pane.SetCaretPosition({0, 2});
    pane.SetCaretPosition({0, 5}, true);
    QImage image = Snapshot();
    EXPECT_EQ(CountPixels(image, pane.CellRect({0, 1}), IsHighlight), 0);
    const QRect selected = pane.CellRect({0, 3}).adjusted(1, 1, -1, -1);
    EXPECT_GT(CountPixels(image, selected, IsHighlight), selected.width() * selected.height() / 3);
    EXPECT_EQ(CountPixels(image, pane.CellRect({0, 6}), IsHighlight), 0);
    EXPECT_EQ(CountPixels(image, pane.CellRect({1, 3}), IsHighlight), 0);

    // A long line: the horizontal scroll bar reaches it, and scrolling moves the glyphs.
    pane.Clear();
    AppendBytes(QByteArray(200, ' ') + "M");
    pane.FlushPendingAppends();
    EXPECT_GE(pane.horizontalScrollBar()->maximum() + pane.horizontalScrollBar()->pageStep(), 201);
    image = Snapshot();
    // (The caret stands in the first column.)
    const QRect rightOfCaret = pane.viewport()->rect().adjusted(pane.CellRect({0, 1}).left(), 0, 0, 0);
    EXPECT_EQ(CountPixels(image, rightOfCaret, IsDark), 0);
    pane.horizontalScrollBar()->setValue(pane.horizontalScrollBar()->maximum());
    image = Snapshot();
    const QRect cell = pane.CellRect({0, 200});
    ASSERT_TRUE(pane.viewport()->rect().contains(cell));
    EXPECT_GT(CountPixels(image, cell, IsDark), 4);
    EXPECT_EQ(pane.FirstVisibleColumn(), pane.horizontalScrollBar()->maximum());
}

TEST_F(MemoPaneTest, PaintsOnlyTheLinesInView) {
    // Lines far above the view are not drawn over the ones in view.
    AppendNumbered(0, 5000);
    AppendBytes("MMMM");
    const QImage image = Snapshot();
    const qsizetype last = pane.LineCount() - 1;
    ASSERT_GE(pane.FirstVisibleLine() + pane.VisibleLineCount(), last + 1);
    EXPECT_GT(CountPixels(image, pane.CellRect({last, 0}), IsDark), 4);
    EXPECT_GT(CountPixels(image, pane.CellRect({last, 3}), IsDark), 4);
    EXPECT_EQ(CountPixels(image, pane.CellRect({last, 4}), IsDark), 0);
}

TEST_F(MemoPaneTest, TakesFocusAndUsesItsFont) {
    EXPECT_EQ(pane.focusPolicy(), Qt::StrongFocus);
    EXPECT_TRUE(pane.hasFocus());
    EXPECT_EQ(pane.font().pixelSize(), 13);
    EXPECT_EQ(pane.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(pane.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    // A bigger font gives taller lines.
    const int before = pane.CellRect({1, 0}).top() - pane.CellRect({0, 0}).top();
    QFont big = pane.font();
    big.setPixelSize(26);
    pane.setFont(big);
    const int after = pane.CellRect({1, 0}).top() - pane.CellRect({0, 0}).top();
    EXPECT_GT(after, before + before / 2);
}
