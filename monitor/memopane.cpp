#include "memopane.h"

#include "nrcodepage.h"
#include "platform/nrerror.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyleHints>
#include <QStyleOptionSlider>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <optional>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Time between two catch-ups of the view while lines keep arriving: short enough that a
// line is on screen within a 16 ms frame of its arrival, painting included.
constexpr qint64 kFrameMs = 10;
constexpr int kLeftMargin = 2;
constexpr int kTopMargin = 1;
constexpr int kTabColumns = 8;
// Undo keeps a removed text only up to this size; a bigger deletion cannot be taken back.
constexpr qsizetype kUndoTextLimit = qsizetype(8) << 20;
constexpr std::size_t kUndoDepth = 100;
// Characters fetched at a time while walking a line.
constexpr qsizetype kWalkPiece = 4096;
// The exact lines of a copy, so that a paste into a pane gives them back unchanged
// (line feeds inside lines included); other programs get text/plain.
const char* const kLinesMime = "application/x-brisemer-lines";

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// Cells a character takes at display column `column`.
qsizetype CellsOf(QChar ch, qsizetype column) {
    const char16_t c = ch.unicode();
    if (c == u'\t') return kTabColumns - column % kTabColumns;
    if (IsControl(c) || ch.isLowSurrogate()) return 0;
    return 1;
}

bool IsWordChar(QChar ch) {
    return ch.isLetterOrNumber() || ch == u'_';
}

QStringList SplitLines(const QString& text) {
    static const QRegularExpression breaks(QStringLiteral("\r\n|\n|\r"));
    return text.split(breaks);
}

qsizetype ClampToInt(qsizetype value) {
    return std::clamp<qsizetype>(value, 0, INT_MAX);
}

// Walks the characters of a line with their display columns, a piece at a time, so that
// a very long line is never converted whole. visit(index, ch, column, cells) returns false
// to stop.
template <class TVisit> void WalkLine(const TLineStore& lines, qsizetype line, TVisit visit) {
    const qsizetype length = lines.Length(line);
    qsizetype column = 0;
    for (qsizetype from = 0; from < length; from += kWalkPiece) {
        const QString piece = lines.Mid(line, from, kWalkPiece);
        for (qsizetype i = 0; i < piece.size(); ++i) {
            const qsizetype cells = CellsOf(piece.at(i), column);
            if (!visit(from + i, piece.at(i), column, cells)) return;
            column += cells;
        }
    }
}

qsizetype ColumnOf(const TLineStore& lines, qsizetype line, qsizetype index) {
    qsizetype result = 0;
    WalkLine(lines, line, [&](qsizetype i, QChar, qsizetype column, qsizetype cells) {
        if (i >= index) {
            result = column;
            return false;
        }
        result = column + cells;
        return true;
    });
    return result;
}

// The caret position nearest to a display column (fractional: a point inside a cell).
qsizetype IndexAtColumn(const TLineStore& lines, qsizetype line, double column) {
    qsizetype result = lines.Length(line);
    WalkLine(lines, line, [&](qsizetype i, QChar ch, qsizetype at, qsizetype cells) {
        // The second half of a surrogate pair is never a caret position.
        if (ch.isLowSurrogate()) return true;
        if (double(at) + double(cells) / 2.0 > column) {
            result = i;
            return false;
        }
        return true;
    });
    return result;
}

// A scroll bar that repaints only when what it shows changes. Every received line moves
// the pane's range, which after the first screenful mostly leaves the thumb on the same
// pixels, and a scroll bar is dearer to paint than the line itself.
class TPaneScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

    // Makes several changes (range, steps, value) and repaints once if the result looks
    // different: raising the maximum before the value moves the thumb for a moment only.
    template <class F> void ChangeTogether(F&& changes) {
        fHeld = true;
        changes();
        fHeld = false;
        if (Changed()) QScrollBar::sliderChange(SliderValueChange);
    }

protected:
    void sliderChange(SliderChange change) override {
        if (fHeld || !Changed()) return;
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* event) override {
        fPainted = Look();
        QScrollBar::paintEvent(event);
    }

private:
    // What range and value changes alter in a painted scroll bar; hover, press, focus,
    // size and style changes repaint it through their own events.
    struct TLook {
        QRect thumb;
        bool atMinimum;
        bool atMaximum;
        friend bool operator==(const TLook&, const TLook&) = default;
    };
    TLook Look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return TLook{style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                     value() == minimum(), value() == maximum()};
    }
    bool Changed() const {
        // A transient scroll bar shows itself on every change: leave that kind alone.
        return !fPainted || style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this) ||
               Look() != *fPainted;
    }

    std::optional<TLook> fPainted;
    bool fHeld = false;
};

// The scroll area lays its scroll bars out anew at every range change, and that repaints
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

TMemoPane::TMemoPane(QWidget* parent) : QAbstractScrollArea(parent) {
    setVerticalScrollBar(new TPaneScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new TPaneScrollBar(Qt::Horizontal, this));
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(13);
    setFont(font);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    UpdateMetrics();
    UpdateScrollBars();
}

TMemoPane::~TMemoPane() = default;

// ---- content ----

void TMemoPane::AppendLine(const char* bytes, std::size_t n) {
    fLines.Append(bytes, n);
    if (!fRefreshPending) ScheduleRefresh();
}

void TMemoPane::AppendLine(const QString& text) {
    fLines.Append(text);
    if (!fRefreshPending) ScheduleRefresh();
}

void TMemoPane::ClearState() {
    fLines.Clear();
    fCaret = fAnchor = TPosition{};
    fDesiredColumn = -1;
    fUndo.clear();
    fWidestSeen = 0;
    fCountAtRefresh = 0;
}

void TMemoPane::Clear() {
    ClearState();
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void TMemoPane::SetText(const QString& text) {
    ClearState();
    if (!text.isEmpty())
        for (const QString& line : SplitLines(text))
            fLines.Append(line);
    UpdateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

QString TMemoPane::Line(qsizetype index) const {
    return fLines.Text(index);
}

QString TMemoPane::Text() const {
    QString text;
    for (qsizetype i = 0; i < fLines.Count(); ++i) {
        if (i > 0) text += QStringLiteral("\r\n");
        text += fLines.Text(i);
    }
    return text;
}

QByteArray TMemoPane::SaveBytes() const {
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(fLines.TextSize()) + 2 * fLines.Count());
    for (qsizetype i = 0; i < fLines.Count(); ++i) {
        if (fLines.IsCodePageLine(i)) {
            const std::string_view line = fLines.Bytes(i);
            bytes.append(line.data(), static_cast<qsizetype>(line.size()));
        } else {
            bytes.append(fLines.SavedBytes(i));
        }
        bytes.append("\r\n", 2);
    }
    return bytes;
}

bool TMemoPane::SaveToFile(const QString& path, QString* errorText) const {
    // Plain POSIX calls: the errno of a failed write (a full disk) is the reason to show.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    auto fail = [&](int error) {
        if (errorText) *errorText = SysErrorMessage(static_cast<std::uint32_t>(error));
        return false;
    };
    if (fd < 0) return fail(errno);
    auto writeAll = [fd](const char* bytes, std::size_t size) {
        while (size > 0) {
            const ssize_t written = ::write(fd, bytes, size);
            if (written < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
        return true;
    };
    // The lines are gathered straight from the store into one buffer, never copied whole.
    constexpr std::size_t kBufferBytes = std::size_t(1) << 20;
    std::vector<char> buffer;
    buffer.reserve(kBufferBytes);
    auto flush = [&]() {
        const bool ok = writeAll(buffer.data(), buffer.size());
        buffer.clear();
        return ok;
    };
    auto put = [&](const char* bytes, std::size_t size) {
        if (buffer.size() + size > kBufferBytes) {
            if (!flush()) return false;
            if (size > kBufferBytes) // a long line goes out directly
                return writeAll(bytes, size);
        }
        buffer.insert(buffer.end(), bytes, bytes + size);
        return true;
    };
    bool ok = true;
    for (qsizetype i = 0; ok && i < fLines.Count(); ++i) {
        if (fLines.IsCodePageLine(i)) {
            const std::string_view line = fLines.Bytes(i);
            ok = put(line.data(), line.size());
        } else {
            const QByteArray line = fLines.SavedBytes(i);
            ok = put(line.constData(), static_cast<std::size_t>(line.size()));
        }
        ok = ok && put("\r\n", 2);
    }
    ok = ok && flush();
    const int writeError = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) return fail(errno);
    return ok ? true : fail(writeError);
}

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

// ---- caret and selection ----

TMemoPane::TPosition TMemoPane::Clamp(TPosition position) const {
    if (fLines.Count() == 0) return TPosition{};
    position.line = std::clamp<qsizetype>(position.line, 0, fLines.Count() - 1);
    position.column = std::clamp<qsizetype>(position.column, 0, fLines.Length(position.line));
    return position;
}

TMemoPane::TPosition TMemoPane::EndOfText() const {
    if (fLines.Count() == 0) return TPosition{};
    return TPosition{fLines.Count() - 1, fLines.Length(fLines.Count() - 1)};
}

void TMemoPane::SetCaretPosition(TPosition position, bool keepAnchor) {
    const TPosition oldCaret = fCaret;
    const TPosition oldAnchor = fAnchor;
    fCaret = Clamp(position);
    if (!keepAnchor) fAnchor = fCaret;
    fDesiredColumn = -1;
    EnsureCaretVisible();
    RestartCaretBlink();
    if (oldCaret != fCaret || oldAnchor != fAnchor) viewport()->update();
}

void TMemoPane::SelectAll() {
    fAnchor = TPosition{};
    fCaret = EndOfText();
    fDesiredColumn = -1;
    viewport()->update();
    UpdatePrimarySelection();
}

void TMemoPane::MoveCaret(TPosition position, bool select) {
    SetCaretPosition(position, select);
}

void TMemoPane::EnsureCaretVisible() {
    const int fullLines = std::max(1, (viewport()->height() - kTopMargin) / fLineHeight);
    QScrollBar* vertical = verticalScrollBar();
    if (fCaret.line < vertical->value())
        vertical->setValue(static_cast<int>(ClampToInt(fCaret.line)));
    else if (fCaret.line >= vertical->value() + fullLines)
        vertical->setValue(static_cast<int>(ClampToInt(fCaret.line - fullLines + 1)));

    const int fullColumns = std::max(1, static_cast<int>((viewport()->width() - kLeftMargin) / fCharWidth));
    const qsizetype column = ColumnOf(fLines, fCaret.line, fCaret.column);
    QScrollBar* horizontal = horizontalScrollBar();
    // Jump by a quarter of the view, as edit controls do, rather than column by column.
    const int jump = std::max(1, fullColumns / 4);
    if (column < horizontal->value())
        horizontal->setValue(static_cast<int>(ClampToInt(column - jump)));
    else if (column >= horizontal->value() + fullColumns)
        horizontal->setValue(static_cast<int>(ClampToInt(column - fullColumns + 1 + jump)));
}

void TMemoPane::RestartCaretBlink() {
    fCaretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && flash > 0)
        fBlinkTimer.start(flash / 2, this);
    else
        fBlinkTimer.stop();
}

TMemoPane::TPosition TMemoPane::PreviousCharacter(TPosition position) const {
    position = Clamp(position);
    if (position.column > 0) {
        --position.column;
        if (position.column > 0 && fLines.Mid(position.line, position.column, 1).at(0).isLowSurrogate())
            --position.column;
    } else if (position.line > 0) {
        --position.line;
        position.column = fLines.Length(position.line);
    }
    return position;
}

TMemoPane::TPosition TMemoPane::NextCharacter(TPosition position) const {
    position = Clamp(position);
    const qsizetype length = fLines.Length(position.line);
    if (position.column < length) {
        ++position.column;
        if (position.column < length && fLines.Mid(position.line, position.column, 1).at(0).isLowSurrogate())
            ++position.column;
    } else if (position.line + 1 < fLines.Count()) {
        ++position.line;
        position.column = 0;
    }
    return position;
}

TMemoPane::TPosition TMemoPane::NextWord(TPosition position) const {
    position = Clamp(position);
    const QString line = fLines.Text(position.line);
    qsizetype i = position.column;
    if (i >= line.size()) return NextCharacter(position);
    while (i < line.size() && IsWordChar(line.at(i)))
        ++i;
    while (i < line.size() && !IsWordChar(line.at(i)))
        ++i;
    return TPosition{position.line, i};
}

TMemoPane::TPosition TMemoPane::PreviousWord(TPosition position) const {
    position = Clamp(position);
    const QString line = fLines.Text(position.line);
    qsizetype i = position.column;
    if (i == 0) return PreviousCharacter(position);
    while (i > 0 && !IsWordChar(line.at(i - 1)))
        --i;
    while (i > 0 && IsWordChar(line.at(i - 1)))
        --i;
    return TPosition{position.line, i};
}

void TMemoPane::SelectWordAt(TPosition position) {
    position = Clamp(position);
    const QString line = fLines.Text(position.line);
    qsizetype from = position.column;
    qsizetype to = position.column;
    if (from < line.size() && IsWordChar(line.at(from))) {
        while (from > 0 && IsWordChar(line.at(from - 1)))
            --from;
        while (to < line.size() && IsWordChar(line.at(to)))
            ++to;
    } else if (to < line.size()) {
        ++to;
    }
    fAnchor = TPosition{position.line, from};
    fCaret = TPosition{position.line, to};
    fDesiredColumn = -1;
    EnsureCaretVisible();
    RestartCaretBlink();
    viewport()->update();
    UpdatePrimarySelection();
}

void TMemoPane::MoveVertically(qsizetype lines, bool select) {
    if (fLines.Count() == 0) return;
    const qsizetype desired =
        fDesiredColumn >= 0 ? fDesiredColumn : ColumnOf(fLines, fCaret.line, fCaret.column);
    const qsizetype target = std::clamp<qsizetype>(fCaret.line + lines, 0, fLines.Count() - 1);
    TPosition position{target, IndexAtColumn(fLines, target, double(desired))};
    if (lines < 0 && fCaret.line == 0)
        position = TPosition{0, 0};
    else if (lines > 0 && fCaret.line == fLines.Count() - 1)
        position = EndOfText();
    SetCaretPosition(position, select);
    fDesiredColumn = desired;
}

QString TMemoPane::TextBetween(TPosition from, TPosition to) const {
    from = Clamp(from);
    to = Clamp(to);
    if (to < from) std::swap(from, to);
    if (from.line == to.line) return fLines.Mid(from.line, from.column, to.column - from.column);
    QString text = fLines.Mid(from.line, from.column, fLines.Length(from.line) - from.column);
    for (qsizetype line = from.line + 1; line < to.line; ++line) {
        text += QStringLiteral("\r\n");
        text += fLines.Text(line);
    }
    text += QStringLiteral("\r\n");
    text += fLines.Mid(to.line, 0, to.column);
    return text;
}

QString TMemoPane::SelectedText() const {
    return TextBetween(fAnchor, fCaret);
}

// ---- editing ----

void TMemoPane::ReplaceRange(TPosition from, TPosition to, QStringList parts, bool typing) {
    from = Clamp(from);
    to = Clamp(to);
    if (to < from) std::swap(from, to);
    if (parts.isEmpty()) parts.append(QString());
    if (from == to && parts.size() == 1 && parts.first().isEmpty()) return;

    // The removed text is kept for undo unless it is too big to copy.
    qsizetype removedSize = 0;
    for (qsizetype line = from.line; line <= to.line && removedSize <= kUndoTextLimit; ++line)
        removedSize += fLines.Length(line) + 2;
    const bool undoable = removedSize <= kUndoTextLimit;
    TEdit edit;
    edit.caretBefore = fCaret;
    edit.anchorBefore = fAnchor;
    edit.typing = typing;
    edit.from = from;
    if (undoable) edit.removed = TextBetween(from, to);

    const qsizetype firstLength = parts.size();
    edit.createdLines = fLines.Count() == 0;
    const QString prefix = fLines.Mid(from.line, 0, from.column);
    const QString suffix = fLines.Mid(to.line, to.column, fLines.Length(to.line) - to.column);
    const qsizetype lastPartLength = parts.last().size();
    parts.first().prepend(prefix);
    parts.last().append(suffix);
    if (fLines.Count() == 0)
        fLines.Replace(0, 0, parts);
    else
        fLines.Replace(from.line, to.line - from.line + 1, parts);
    // A pane edited down to nothing is empty, as one that was cleared: no line at all.
    if (fLines.Count() == 1 && fLines.Length(0) == 0) fLines.Replace(0, 1, {});
    edit.removedAll = fLines.Count() == 0;

    const TPosition end{from.line + firstLength - 1, (firstLength == 1 ? prefix.size() : 0) + lastPartLength};
    edit.to = end;
    if (!undoable) {
        fUndo.clear();
    } else if (typing && !fUndo.empty() && fUndo.back().typing && fUndo.back().to == from &&
               edit.removed.isEmpty()) {
        fUndo.back().to = end; // one undo step for a run of typed characters
    } else {
        fUndo.push_back(std::move(edit));
        if (fUndo.size() > kUndoDepth) fUndo.erase(fUndo.begin());
    }

    fCaret = fAnchor = Clamp(end);
    fDesiredColumn = -1;
    UpdateScrollBars();
    EnsureCaretVisible();
    RestartCaretBlink();
    viewport()->update();
}

void TMemoPane::InsertTyped(const QString& text) {
    ReplaceRange(fAnchor, fCaret, SplitLines(text), true);
}

void TMemoPane::DeleteRange(TPosition from, TPosition to) {
    ReplaceRange(from, to, QStringList(), false);
}

void TMemoPane::DeleteSelection() {
    if (HasSelection()) DeleteRange(fAnchor, fCaret);
}

void TMemoPane::Undo() {
    if (fUndo.empty()) return;
    const TEdit edit = fUndo.back();
    fUndo.pop_back();
    // Removed text is lines joined with CR LF; a line feed alone is a character of a line.
    const QStringList removed = edit.removed.split(QStringLiteral("\r\n"));
    if (edit.removedAll) {
        // The edit left no line at all: its lines come back whole, before any line
        // received since.
        fLines.Replace(0, 0, removed);
    } else if (edit.createdLines) {
        // The edit wrote into an empty pane: its lines go away whole.
        fLines.Replace(0, edit.to.line + 1, {});
    } else {
        const std::size_t depth = fUndo.size();
        ReplaceRange(edit.from, edit.to, removed, false);
        // Taking an edit back is not itself an edit to take back.
        fUndo.resize(std::min(depth, fUndo.size()));
    }
    fAnchor = Clamp(edit.anchorBefore);
    fCaret = Clamp(edit.caretBefore);
    fDesiredColumn = -1;
    UpdateScrollBars();
    EnsureCaretVisible();
    RestartCaretBlink();
    viewport()->update();
}

void TMemoPane::Copy() const {
    if (!HasSelection()) return;
    const QString text = SelectedText();
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kLinesMime), text.toUtf8());
    // Other programs on this desktop expect LF line ends.
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    mime->setText(plain);
    QGuiApplication::clipboard()->setMimeData(mime);
}

void TMemoPane::Cut() {
    if (!HasSelection()) return;
    Copy();
    DeleteSelection();
}

void TMemoPane::Paste() {
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    if (!mime) return;
    if (mime->hasFormat(QString::fromLatin1(kLinesMime))) {
        // Lines of a pane: only CR LF separates them, a line feed inside a line stays.
        const QString lines = QString::fromUtf8(mime->data(QString::fromLatin1(kLinesMime)));
        if (!lines.isEmpty()) ReplaceRange(fAnchor, fCaret, lines.split(QStringLiteral("\r\n")), false);
        return;
    }
    if (mime->hasText() && !mime->text().isEmpty())
        ReplaceRange(fAnchor, fCaret, SplitLines(mime->text()), false);
}

void TMemoPane::UpdatePrimarySelection() const {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (HasSelection() && clipboard->supportsSelection())
        clipboard->setText(SelectedText(), QClipboard::Selection);
}

// ---- keyboard ----

bool TMemoPane::HandleKey(QKeyEvent* event) {
    const bool empty = fLines.Count() == 0;
    if (event == QKeySequence::Copy) {
        Copy();
    } else if (event == QKeySequence::Cut) {
        Cut();
    } else if (event == QKeySequence::Paste) {
        Paste();
    } else if (event == QKeySequence::Undo) {
        Undo();
    } else if (event == QKeySequence::SelectAll) {
        SelectAll();
    } else if (event == QKeySequence::MoveToNextChar || event == QKeySequence::MoveToPreviousChar) {
        const bool next = event == QKeySequence::MoveToNextChar;
        if (HasSelection())
            MoveCaret(next ? std::max(fCaret, fAnchor) : std::min(fCaret, fAnchor), false);
        else
            MoveCaret(next ? NextCharacter(fCaret) : PreviousCharacter(fCaret), false);
    } else if (event == QKeySequence::SelectNextChar) {
        MoveCaret(NextCharacter(fCaret), true);
    } else if (event == QKeySequence::SelectPreviousChar) {
        MoveCaret(PreviousCharacter(fCaret), true);
    } else if (event == QKeySequence::MoveToNextWord || event == QKeySequence::SelectNextWord) {
        MoveCaret(NextWord(fCaret), event == QKeySequence::SelectNextWord);
    } else if (event == QKeySequence::MoveToPreviousWord || event == QKeySequence::SelectPreviousWord) {
        MoveCaret(PreviousWord(fCaret), event == QKeySequence::SelectPreviousWord);
    } else if (event == QKeySequence::MoveToNextLine || event == QKeySequence::SelectNextLine) {
        MoveVertically(1, event == QKeySequence::SelectNextLine);
    } else if (event == QKeySequence::MoveToPreviousLine || event == QKeySequence::SelectPreviousLine) {
        MoveVertically(-1, event == QKeySequence::SelectPreviousLine);
    } else if (event == QKeySequence::MoveToNextPage || event == QKeySequence::SelectNextPage ||
               event == QKeySequence::MoveToPreviousPage || event == QKeySequence::SelectPreviousPage) {
        const bool down = event == QKeySequence::MoveToNextPage || event == QKeySequence::SelectNextPage;
        const bool select =
            event == QKeySequence::SelectNextPage || event == QKeySequence::SelectPreviousPage;
        const int page = std::max(1, (viewport()->height() - kTopMargin) / fLineHeight);
        QScrollBar* vertical = verticalScrollBar();
        vertical->setValue(vertical->value() + (down ? page : -page));
        MoveVertically(down ? page : -page, select);
    } else if (event == QKeySequence::MoveToStartOfLine || event == QKeySequence::SelectStartOfLine ||
               event == QKeySequence::MoveToStartOfBlock || event == QKeySequence::SelectStartOfBlock) {
        const bool select =
            event == QKeySequence::SelectStartOfLine || event == QKeySequence::SelectStartOfBlock;
        MoveCaret(TPosition{fCaret.line, 0}, select);
    } else if (event == QKeySequence::MoveToEndOfLine || event == QKeySequence::SelectEndOfLine ||
               event == QKeySequence::MoveToEndOfBlock || event == QKeySequence::SelectEndOfBlock) {
        const bool select = event == QKeySequence::SelectEndOfLine || event == QKeySequence::SelectEndOfBlock;
        MoveCaret(TPosition{fCaret.line, fLines.Length(fCaret.line)}, select);
    } else if (event == QKeySequence::MoveToStartOfDocument || event == QKeySequence::SelectStartOfDocument) {
        MoveCaret(TPosition{}, event == QKeySequence::SelectStartOfDocument);
    } else if (event == QKeySequence::MoveToEndOfDocument || event == QKeySequence::SelectEndOfDocument) {
        MoveCaret(EndOfText(), event == QKeySequence::SelectEndOfDocument);
    } else if (event == QKeySequence::DeleteStartOfWord) {
        if (HasSelection())
            DeleteSelection();
        else if (!empty)
            DeleteRange(PreviousWord(fCaret), fCaret);
    } else if (event == QKeySequence::DeleteEndOfWord) {
        if (HasSelection())
            DeleteSelection();
        else if (!empty)
            DeleteRange(fCaret, NextWord(fCaret));
    } else if (event->key() == Qt::Key_Backspace && !(event->modifiers() & ~Qt::ShiftModifier)) {
        if (HasSelection())
            DeleteSelection();
        else if (!empty)
            DeleteRange(PreviousCharacter(fCaret), fCaret);
    } else if (event == QKeySequence::Delete) {
        if (HasSelection())
            DeleteSelection();
        else if (!empty)
            DeleteRange(fCaret, NextCharacter(fCaret));
    } else if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
               !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier))) {
        InsertTyped(QStringLiteral("\n"));
    } else {
        const QString text = event->text();
        const Qt::KeyboardModifiers modifiers = event->modifiers();
        // Control and Alt combinations are commands, not characters (AltGr is not one of them).
        const bool command = (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) &&
                             !(modifiers & Qt::GroupSwitchModifier) &&
                             !((modifiers & Qt::ControlModifier) && (modifiers & Qt::AltModifier));
        if (text.isEmpty() || command ||
            std::any_of(text.begin(), text.end(), [](QChar c) { return IsControl(c.unicode()); }))
            return false;
        InsertTyped(text);
    }
    return true;
}

void TMemoPane::keyPressEvent(QKeyEvent* event) {
    if (HandleKey(event)) {
        event->accept();
        if (event->modifiers() & Qt::ShiftModifier) UpdatePrimarySelection();
    } else {
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TMemoPane::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) InsertTyped(event->commitString());
    event->accept();
}

QVariant TMemoPane::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return QRect(CellRect(fCaret).translated(viewport()->pos()));
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return static_cast<int>(ClampToInt(fCaret.column));
    case Qt::ImAnchorPosition:
        return static_cast<int>(ClampToInt(fAnchor.line == fCaret.line ? fAnchor.column : fCaret.column));
    case Qt::ImSurroundingText:
        return fLines.Text(fCaret.line);
    case Qt::ImCurrentSelection:
        return SelectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- mouse ----

void TMemoPane::mousePressEvent(QMouseEvent* event) {
    const TPosition position = PositionAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton) {
        SetCaretPosition(position, event->modifiers() & Qt::ShiftModifier);
        fDragging = true;
        fDragPoint = event->position().toPoint();
        event->accept();
    } else if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        // The X11 habit: the middle button pastes the primary selection where it clicks.
        const QString text = QGuiApplication::clipboard()->text(QClipboard::Selection);
        if (!text.isEmpty()) {
            SetCaretPosition(position);
            ReplaceRange(fCaret, fCaret, SplitLines(text), false);
        }
        event->accept();
    } else {
        QAbstractScrollArea::mousePressEvent(event);
    }
}

void TMemoPane::mouseMoveEvent(QMouseEvent* event) {
    if (!fDragging || !(event->buttons() & Qt::LeftButton)) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    fDragPoint = event->position().toPoint();
    if (viewport()->rect().contains(fDragPoint)) {
        fAutoScrollTimer.stop();
        SetCaretPosition(PositionAt(fDragPoint), true);
    } else {
        AutoScrollTo(fDragPoint);
        if (!fAutoScrollTimer.isActive()) fAutoScrollTimer.start(50, this);
    }
}

void TMemoPane::AutoScrollTo(const QPoint& point) {
    if (!fDragging) {
        fAutoScrollTimer.stop();
        return;
    }
    const QRect view = viewport()->rect();
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    if (point.y() < view.top())
        vertical->setValue(vertical->value() - 1);
    else if (point.y() > view.bottom())
        vertical->setValue(vertical->value() + 1);
    if (point.x() < view.left())
        horizontal->setValue(horizontal->value() - 1);
    else if (point.x() > view.right())
        horizontal->setValue(horizontal->value() + 1);
    const QPoint inside(std::clamp(point.x(), view.left(), view.right()),
                        std::clamp(point.y(), view.top(), view.bottom()));
    SetCaretPosition(PositionAt(inside), true);
}

void TMemoPane::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && fDragging) {
        fDragging = false;
        fAutoScrollTimer.stop();
        UpdatePrimarySelection();
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TMemoPane::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        SelectWordAt(PositionAt(event->position().toPoint()));
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void TMemoPane::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("memoPaneMenu"));
    // The toolkit's own menu texts, so its translation catalogue gives them in French.
    auto text = [](const char* source) { return QCoreApplication::translate("QLineEdit", source); };
    QAction* undo = menu.addAction(text("&Undo"), this, &TMemoPane::Undo);
    undo->setObjectName(QStringLiteral("actionUndo"));
    undo->setEnabled(CanUndo());
    menu.addSeparator();
    QAction* cut = menu.addAction(text("Cu&t"), this, &TMemoPane::Cut);
    cut->setObjectName(QStringLiteral("actionCut"));
    cut->setEnabled(HasSelection());
    QAction* copy = menu.addAction(text("&Copy"), this, [this] { Copy(); });
    copy->setObjectName(QStringLiteral("actionCopy"));
    copy->setEnabled(HasSelection());
    QAction* paste = menu.addAction(text("&Paste"), this, &TMemoPane::Paste);
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    paste->setObjectName(QStringLiteral("actionPaste"));
    paste->setEnabled(mime && (mime->hasText() || mime->hasFormat(QString::fromLatin1(kLinesMime))));
    QAction* remove = menu.addAction(text("Delete"), this, &TMemoPane::DeleteSelection);
    remove->setObjectName(QStringLiteral("actionDelete"));
    remove->setEnabled(HasSelection());
    menu.addSeparator();
    QAction* all = menu.addAction(text("Select All"), this, &TMemoPane::SelectAll);
    all->setObjectName(QStringLiteral("actionSelectAll"));
    all->setEnabled(fLines.Count() > 0);
    menu.exec(event->globalPos());
}

// ---- focus ----

void TMemoPane::focusInEvent(QFocusEvent* event) {
    RestartCaretBlink();
    viewport()->update();
    QAbstractScrollArea::focusInEvent(event);
}

void TMemoPane::focusOutEvent(QFocusEvent* event) {
    fBlinkTimer.stop();
    fCaretShown = false;
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(event);
}
