#include "memopane.h"

#include "memopanelayout.h"
#include "nrcodepage.h"
#include "panescrollbar.h"

#include <QCursor>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <algorithm>
#include <climits>
#include <cmath>

using namespace memopanelayout;

namespace {

// Time between two catch-ups of the view while lines keep arriving: short enough that a
// line is on screen within a 16 ms frame of its arrival, painting included.
constexpr qint64 kFrameMs = 10;

// both of them: with every received line. A scroll bar that is always shown (or never)
// keeps its place whatever its range, so the layout is not told while the value stays.
void SetRangeQuietly(QScrollBar* bar, Qt::ScrollBarPolicy policy, int maximum) {
    const bool quiet = policy != Qt::ScrollBarAsNeeded && bar->value() <= maximum;
    const QSignalBlocker blocker(quiet ? bar : nullptr);
    bar->setRange(0, maximum);
}

template <class F> void ChangeTogether(QScrollBar* bar, F&& changes) {
    if (auto* pane = dynamic_cast<TPaneScrollBar*>(bar))
        pane->ChangeTogether(std::forward<F>(changes));
    else
        changes();
}

} // namespace

// ---- appending and the view ----

void TMemoPane::ScheduleRefresh() {
    fRefreshPending = true;
    const qint64 since = fSinceRefresh.isValid() ? fSinceRefresh.elapsed() : kFrameMs;
    const int delay = since >= kFrameMs ? 0 : static_cast<int>(kFrameMs - since);
    fRefreshTimer.start(delay, Qt::PreciseTimer, this);
}

void TMemoPane::FlushPendingAppends() {
    if (fRefreshPending) Refresh();
}

void TMemoPane::Refresh() {
    fRefreshTimer.stop();
    fRefreshPending = false;
    fSinceRefresh.start();

    const qsizetype before = fCountAtRefresh;
    fCountAtRefresh = fLines.Count();
    const int top = verticalScrollBar()->value();
    // Following the tail scrolls the painted lines up (scrollContentsBy) and leaves only
    // the rows that came into view to paint.
    UpdateScrollBars();
    // The rows of the new lines; all of the view when glyphs may reach out of their rows.
    const qsizetype firstNew = std::max(before, FirstVisibleLine()) - FirstVisibleLine();
    QRect newRows = QRect(0, static_cast<int>(ClampToInt(kTopMargin + firstNew * fLineHeight)),
                          viewport()->width(), viewport()->height()) &
                    viewport()->rect();
    if (!newRows.isEmpty() && !RowsStayInside()) newRows = viewport()->rect();
    // Paint now rather than through update(): the toolkit would add its own wait for the
    // next update slot, and the refresh itself already runs at most once per frame. The
    // repaint also paints what the scroll uncovered.
    if (!newRows.isEmpty())
        viewport()->repaint(newRows);
    else if (verticalScrollBar()->value() != top)
        viewport()->repaint();
}

void TMemoPane::UpdateMetrics() {
    const QFontMetricsF metrics(font());
    // The advance of a long run, not of one glyph: what drawText really moves per character.
    const QString run(100, QLatin1Char('M'));
    fCharWidth = std::max(1.0, metrics.horizontalAdvance(run) / run.size());
    fLineHeight = std::max(1, static_cast<int>(std::ceil(metrics.height())));
    fAscent = metrics.ascent();

    // Where drawText really puts the ink of every printable code-page character, drawn in
    // the middle one of three rows.
    QString glyphs;
    for (int byte = 0x20; byte <= 0xFF; ++byte) {
        const QChar ch = AnsiToChar(static_cast<std::uint8_t>(byte));
        if (!IsControl(ch.unicode())) glyphs += ch;
    }
    QImage ink(static_cast<int>(std::ceil(metrics.horizontalAdvance(glyphs))) + 2 * kLeftMargin, 3 * fLineHeight,
               QImage::Format_ARGB32_Premultiplied);
    ink.fill(Qt::transparent);
    {
        QPainter painter(&ink);
        painter.setFont(font());
        painter.setPen(Qt::black);
        painter.drawText(QPointF(kLeftMargin, fLineHeight + fAscent), glyphs);
    }
    int top = fLineHeight;
    int bottom = 2 * fLineHeight - 1;
    for (int y = 0; y < ink.height(); ++y) {
        const auto* pixels = reinterpret_cast<const QRgb*>(ink.constScanLine(y));
        if (std::any_of(pixels, pixels + ink.width(), [](QRgb p) { return qAlpha(p) != 0; })) {
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    fInkAbove = fLineHeight - top;
    fInkBelow = bottom + 1 - 2 * fLineHeight;
}

int TMemoPane::VisibleLineCount() const {
    const int height = viewport()->height() - kTopMargin;
    return std::max(1, (height + fLineHeight - 1) / fLineHeight);
}

void TMemoPane::UpdateScrollBars() {
    QScrollBar* vertical = verticalScrollBar();
    const bool following = vertical->value() >= vertical->maximum();
    const int fullLines = std::max(1, (viewport()->height() - kTopMargin) / fLineHeight);
    const int fullColumns = std::max(1, static_cast<int>((viewport()->width() - kLeftMargin) / fCharWidth));
    ChangeTogether(vertical, [&] {
        SetRangeQuietly(vertical, verticalScrollBarPolicy(), static_cast<int>(ClampToInt(fLines.Count() - fullLines)));
        vertical->setPageStep(fullLines);
        vertical->setSingleStep(1);
        if (following) vertical->setValue(vertical->maximum());
    });
    const qsizetype widest = std::max(fLines.LongestLine(), fWidestSeen);
    QScrollBar* horizontal = horizontalScrollBar();
    ChangeTogether(horizontal, [&] {
        // One column more than the widest line: room for the caret after its last character.
        SetRangeQuietly(horizontal, horizontalScrollBarPolicy(),
                        static_cast<int>(ClampToInt(widest + 1 - fullColumns)));
        horizontal->setPageStep(fullColumns);
        horizontal->setSingleStep(1);
    });
}

qsizetype TMemoPane::FirstVisibleLine() const {
    return verticalScrollBar()->value();
}
qsizetype TMemoPane::FirstVisibleColumn() const {
    return horizontalScrollBar()->value();
}

QRect TMemoPane::CellRect(TPosition position) const {
    const qsizetype column = ColumnOf(fLines, position.line, position.column);
    const double x = kLeftMargin + double(column - FirstVisibleColumn()) * fCharWidth;
    const qsizetype y = kTopMargin + (position.line - FirstVisibleLine()) * fLineHeight;
    return QRect(static_cast<int>(std::floor(x)),
                 static_cast<int>(std::clamp<qsizetype>(y, INT_MIN / 2, INT_MAX / 2)),
                 static_cast<int>(std::ceil(fCharWidth)), fLineHeight);
}

TMemoPane::TPosition TMemoPane::PositionAt(const QPoint& point) const {
    if (fLines.Count() == 0) return TPosition{};
    const int row = point.y() < kTopMargin ? -1 : (point.y() - kTopMargin) / fLineHeight;
    const qsizetype line = std::clamp<qsizetype>(FirstVisibleLine() + row, 0, fLines.Count() - 1);
    const double column = double(point.x() - kLeftMargin) / fCharWidth + double(FirstVisibleColumn());
    return TPosition{line, IndexAtColumn(fLines, line, std::max(0.0, column))};
}

void TMemoPane::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette& colours = palette();
    const QRect area = event->rect();

    const qsizetype top = FirstVisibleLine();
    const qsizetype left = FirstVisibleColumn();
    const int viewColumns = static_cast<int>(viewport()->width() / fCharWidth) + 2;
    const qsizetype firstRow = std::max(0, (area.top() - kTopMargin) / fLineHeight);
    const qsizetype lastRow = std::max(0, (area.bottom() - kTopMargin) / fLineHeight);

    const TPosition selFrom = std::min(fCaret, fAnchor);
    const TPosition selTo = std::max(fCaret, fAnchor);
    const bool selecting = HasSelection();

    for (qsizetype row = firstRow; row <= lastRow; ++row) {
        const qsizetype line = top + row;
        if (line >= fLines.Count()) break;
        const int y = static_cast<int>(kTopMargin + row * fLineHeight);

        // The characters that fall into the view, with the column of the first one;
        // control characters take no cell, a tab its cells as blanks.
        QString shown;
        qsizetype shownColumn = -1;
        bool wholeLine = true;
        qsizetype width = 0;
        WalkLine(fLines, line, [&](qsizetype, QChar ch, qsizetype column, qsizetype cells) {
            width = column + cells;
            if (column > left + viewColumns) {
                wholeLine = false;
                return false;
            }
            if (cells == 0 || column + cells <= left) return true;
            const qsizetype from = std::max(column, left);
            if (shownColumn < 0) shownColumn = from;
            if (ch == u'\t')
                shown += QString(column + cells - from, QLatin1Char(' '));
            else
                shown += ch;
            return true;
        });
        if (wholeLine && width > fWidestSeen) {
            // Tabs can make a line wider than its length: widen the scroll range at the
            // next catch-up, never from inside a paint.
            fWidestSeen = width;
            if (width > fLines.LongestLine() && !fRefreshPending) ScheduleRefresh();
        }
        if (!shown.isEmpty() && shown.back().isHighSurrogate()) shown.chop(1);
        const QPointF origin(kLeftMargin + double(shownColumn - left) * fCharWidth, y + fAscent);

        QRect selectedRect;
        if (selecting && line >= selFrom.line && line <= selTo.line) {
            const qsizetype a = line == selFrom.line ? selFrom.column : 0;
            const qsizetype b = line == selTo.line ? selTo.column : fLines.Length(line);
            qsizetype from = ColumnOf(fLines, line, a);
            // The line break is part of the selection: one cell after the line shows it.
            qsizetype to = ColumnOf(fLines, line, b) + (line < selTo.line ? 1 : 0);
            const double x1 = kLeftMargin + double(from - left) * fCharWidth;
            const double x2 = kLeftMargin + double(to - left) * fCharWidth;
            if (x2 > x1)
                selectedRect =
                    QRect(QPoint(static_cast<int>(std::floor(std::max(x1, -1.0))), y),
                          QPoint(static_cast<int>(std::ceil(std::min(x2, 1e6))) - 1, y + fLineHeight - 1));
        }

        if (selectedRect.isValid()) {
            painter.fillRect(selectedRect, colours.brush(QPalette::Highlight));
            if (!shown.isEmpty()) {
                painter.save();
                painter.setClipRegion(QRegion(0, y, viewport()->width(), fLineHeight) -
                                      QRegion(selectedRect));
                painter.setPen(colours.color(QPalette::Text));
                painter.drawText(origin, shown);
                painter.setClipRect(selectedRect);
                painter.setPen(colours.color(QPalette::HighlightedText));
                painter.drawText(origin, shown);
                painter.restore();
            }
        } else if (!shown.isEmpty()) {
            painter.setPen(colours.color(QPalette::Text));
            painter.drawText(origin, shown);
        }
    }

    if (fCaretShown && hasFocus()) {
        const QRect caret = CellRect(fCaret);
        painter.fillRect(QRect(caret.left(), caret.top(), 1, fLineHeight), colours.color(QPalette::Text));
    }
}

void TMemoPane::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

bool TMemoPane::RowsStayInside() const {
    // Typed lines may hold characters outside the code page, whose glyphs were not measured.
    if (fInkAbove > 0 || fInkBelow > 0) return false;
    const qsizetype end = std::min(fLines.Count(), FirstVisibleLine() + VisibleLineCount());
    for (qsizetype line = FirstVisibleLine(); line < end; ++line)
        if (!fLines.IsCodePageLine(line)) return false;
    return true;
}

void TMemoPane::scrollContentsBy(int dx, int dy) {
    // By whole lines: the toolkit moves the pixels already painted and asks for the rows
    // that come into view only, which is exact while no glyph reaches out of its row.
    // Columns are not whole pixels wide: a sideways scroll, or one of a screenful or more,
    // is painted anew.
    if (dx == 0 && dy != 0 && std::abs(dy) < VisibleLineCount() && RowsStayInside()) {
        viewport()->scroll(0, dy * fLineHeight, viewport()->rect().adjusted(0, kTopMargin, 0, 0));
        return;
    }
    viewport()->update();
}

QSize TMemoPane::sizeHint() const {
    return QSize(static_cast<int>(80 * fCharWidth) + 2 * kLeftMargin +
                     verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
                 12 * fLineHeight + kTopMargin + horizontalScrollBar()->sizeHint().height() +
                     2 * frameWidth());
}

QSize TMemoPane::minimumSizeHint() const {
    return QSize(static_cast<int>(4 * fCharWidth) + verticalScrollBar()->sizeHint().width() +
                     2 * frameWidth(),
                 fLineHeight + horizontalScrollBar()->sizeHint().height() + 2 * frameWidth());
}

void TMemoPane::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        UpdateMetrics();
        UpdateScrollBars();
        viewport()->update();
    }
    QAbstractScrollArea::changeEvent(event);
}

void TMemoPane::timerEvent(QTimerEvent* event) {
    if (event->timerId() == fRefreshTimer.timerId()) {
        Refresh();
    } else if (event->timerId() == fBlinkTimer.timerId()) {
        fCaretShown = !fCaretShown;
        viewport()->update(CellRect(fCaret).adjusted(-1, 0, 1, 0));
    } else if (event->timerId() == fAutoScrollTimer.timerId()) {
        AutoScrollTo(viewport()->mapFromGlobal(QCursor::pos()));
    } else {
        QAbstractScrollArea::timerEvent(event);
    }
}
