// What the channel text pane puts on screen while lines arrive. The pane moves the rows
// already painted when it scrolls by whole lines and repaints its scroll bars only when
// they change; the screen (the window's backing store) must then hold exactly what a
// paint of the whole pane gives. Offscreen, the screen grab reads the backing store.
#include "memopane.h"

#include "testenv.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class TPaintCounter : public QObject {
public:
    int Count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++Count;
        return false;
    }
};

// Real sentences, with glyphs that reach above and below their row (accents, descenders,
// brackets) and a tab.
QByteArray Sentence(int i) {
    static const char* const kinds[] = {
        "!AIVDM,1,1,,A,15MgK45P3@G?fl0E`JbR0OwT0@MS,0*4E", "$GPGSV,3,1,11,03,03,111,00,04,15,270,00*74",
        "\xC9t\xE9 jpq|_gy {[()]} \xC5\xD1\xC7\xD6\xDC\xB8", "$GPRMC,\t092750.000,A,5321.6802,N*6A"};
    return QByteArray("\n") + kinds[i % 4] + ',' + QByteArray::number(i);
}

class PaneViewTest : public testing::Test {
protected:
    void SetUp() override {
        pane.resize(704, 202);
        pane.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
        // No caret: its blinking would make two pictures of the same pane differ.
        pane.clearFocus();
        QApplication::processEvents();
    }

    void Append(int from, int count, std::chrono::milliseconds pause = std::chrono::milliseconds(0)) {
        for (int i = from; i < from + count; ++i) {
            const QByteArray line = Sentence(i);
            pane.AppendLine(line.constData(), static_cast<std::size_t>(line.size()));
            // The pane's own catch-up, as when lines arrive one by one from a port.
            if (pause.count() > 0) ProcessEventsFor(pause);
        }
        pane.FlushPendingAppends();
        QApplication::processEvents();
    }

    // What the window shows now, and what a paint of the whole pane gives.
    QImage OnScreen() {
        QApplication::processEvents();
        return pane.screen()->grabWindow(pane.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    }
    QImage FullPaint() { return pane.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Rows of pixels that differ, for a readable failure.
    static QString Differences(const QImage& a, const QImage& b) {
        if (a.size() != b.size())
            return QStringLiteral("sizes %1x%2 and %3x%4").arg(a.width()).arg(a.height()).arg(b.width()).arg(b.height());
        QStringList rows;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                if (a.pixel(x, y) != b.pixel(x, y)) {
                    rows << QStringLiteral("(%1,%2)").arg(x).arg(y);
                    break;
                }
        return rows.join(' ');
    }

    void CheckArrivals(const QFont& font);

    TMemoPane pane;
};

} // namespace

// Faults caught: rows moved by the wrong height, a row that came into view left unpainted,
// glyph parts reaching into a neighbouring row lost or left behind, a scroll bar left
// showing an old range.
void PaneViewTest::CheckArrivals(const QFont& font) {
    pane.setFont(font);
    Append(0, 40, std::chrono::milliseconds(12));
    ASSERT_EQ(pane.verticalScrollBar()->value(), pane.verticalScrollBar()->maximum());
    QImage screen = OnScreen();
    EXPECT_TRUE(screen == FullPaint()) << Differences(screen, FullPaint()).toStdString();

    // Many lines between two catch-ups: more than a screenful at once.
    Append(40, 100);
    screen = OnScreen();
    EXPECT_TRUE(screen == FullPaint()) << Differences(screen, FullPaint()).toStdString();

    // Typed characters outside the code page, some reaching far above their row (these
    // accents stand 3 pixels above it in the pane's own font), scroll like the others.
    pane.AppendLine(QString::fromUtf16(u"typed \u1EA4\u1EAA\u1EB4 \u1E68"));
    Append(140, 1, std::chrono::milliseconds(12));
    screen = OnScreen();
    EXPECT_TRUE(screen == FullPaint()) << Differences(screen, FullPaint()).toStdString();

    // A selection scrolls with its lines.
    pane.SetCaretPosition({pane.LineCount() - 5, 3});
    pane.SetCaretPosition({pane.LineCount() - 2, 10}, true);
    Append(141, 6, std::chrono::milliseconds(12));
    screen = OnScreen();
    EXPECT_TRUE(screen == FullPaint()) << Differences(screen, FullPaint()).toStdString();
}

QFont PixelFont(const QString& family, int pixels) {
    QFont font(family);
    font.setPixelSize(pixels);
    return font;
}

TEST_F(PaneViewTest, LinesArrivingOneByOneLeaveTheScreenAsAFullPaintDrawsIt) {
    CheckArrivals(pane.font());
}

TEST_F(PaneViewTest, GlyphsReachingAboveTheirRowAreRepaintedWithTheRowsTheyReachInto) {
    // This face puts accents above its line height at this size.
    CheckArrivals(PixelFont(QStringLiteral("DejaVu Sans Mono"), 13));
}

TEST_F(PaneViewTest, GlyphsReachingBelowTheirRowAreRepaintedWithTheRowsTheyReachInto) {
    CheckArrivals(PixelFont(QStringLiteral("Liberation Sans"), 22));
}

TEST_F(PaneViewTest, ScrollingByLinesAndPagesShowsTheRightRows) {
    Append(0, 300);
    QScrollBar* vertical = pane.verticalScrollBar();
    // Up and down by one line, by a few, by a page and more, as the keys and the wheel do.
    for (int step : {-1, -3, -pane.VisibleLineCount() + 1, -40, 2, 1, pane.VisibleLineCount() + 5, -7}) {
        vertical->setValue(vertical->value() + step);
        const QImage screen = OnScreen();
        ASSERT_TRUE(screen == FullPaint()) << "step " << step << ": " << Differences(screen, FullPaint()).toStdString();
    }
}

TEST_F(PaneViewTest, ScrollBarsArePaintedOnlyWhenTheyChange) {
    Append(0, 400, std::chrono::milliseconds(1));
    TPaintCounter vertical, horizontal;
    pane.verticalScrollBar()->installEventFilter(&vertical);
    pane.horizontalScrollBar()->installEventFilter(&horizontal);

    // Following the tail with a long history: the thumb stays at the bottom, in its
    // smallest size, line after line.
    Append(400, 30, std::chrono::milliseconds(12));
    EXPECT_EQ(vertical.Count, 0);
    EXPECT_EQ(horizontal.Count, 0);

    // Scrolled back into the middle, the thumb moves up as lines arrive: it is painted,
    // and shows where it is.
    pane.verticalScrollBar()->setValue(pane.verticalScrollBar()->maximum() / 2);
    QImage screen = OnScreen();
    EXPECT_TRUE(screen == FullPaint()) << Differences(screen, FullPaint()).toStdString();
    vertical.Count = 0;
    Append(430, 400);
    EXPECT_GT(vertical.Count, 0);
    screen = OnScreen();
    EXPECT_TRUE(screen == FullPaint()) << Differences(screen, FullPaint()).toStdString();

    // A longer line widens the horizontal range: that scroll bar is painted again.
    const QByteArray wide = "\n" + QByteArray(400, 'W');
    pane.AppendLine(wide.constData(), static_cast<std::size_t>(wide.size()));
    pane.FlushPendingAppends();
    QApplication::processEvents();
    EXPECT_GT(horizontal.Count, 0);
    screen = OnScreen();
    EXPECT_TRUE(screen == FullPaint()) << Differences(screen, FullPaint()).toStdString();
}

TEST_F(PaneViewTest, AScrollBarShownOnlyWhenNeededStillAppearsAndGoes) {
    // The pane keeps the news of its growing range from the scroll area's layout only for
    // scroll bars that are always shown: one shown as needed must still come and go.
    pane.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QApplication::processEvents();
    Append(0, 3);
    EXPECT_FALSE(pane.verticalScrollBar()->isVisible());
    Append(3, 60);
    EXPECT_TRUE(WaitUntil([&] { return pane.verticalScrollBar()->isVisible(); }));
    pane.Clear();
    EXPECT_TRUE(WaitUntil([&] { return !pane.verticalScrollBar()->isVisible(); }));
}
