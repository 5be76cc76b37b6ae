// The text pane of a channel: every received line, kept forever, in an editable,
// scrollable view.
//
//   AppendLine(bytes, n)   appends one line of code-page (Windows-1252) bytes; the hot path:
//                          stores the bytes and an offset, nothing more. The view catches up
//                          at most once per frame.
//   AppendLine(text)       the same for a string.
//   Clear(), SetText(t)    empties the pane / replaces its content.
//   LineCount(), Line(i), Text()      what the pane holds.
//   SaveBytes(), SaveToFile(path)     the text as saved: each line + CR LF, Windows-1252.
//
// The lines live in a TLineStore (large byte chunks plus a line index); only the lines on
// screen are turned into glyphs. Control characters (the LF that follows a CR on the wire
// starts the next received line) stay in the line but are drawn with zero width; a tab
// advances to the next multiple of eight columns.
//
// The user edits the pane like a plain multi-line edit control: caret and selection by
// mouse and keys, typing, Backspace/Delete, Enter, clipboard, a context menu and undo.
// Appended lines never move the caret or the selection; the view follows the new lines
// while it is scrolled to the bottom and stays put when the user scrolled up.
//
// Threads: a widget; every member is called on the user-interface thread only.
#pragma once

#include "linestore.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <vector>

class QMenu;

class TMemoPane : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TMemoPane(QWidget* parent = nullptr);
    ~TMemoPane() override;

    // One line as code-page bytes, without its CR. Any byte may occur, LF and NUL included.
    void AppendLine(const char* bytes, std::size_t n);
    void AppendLine(const QString& text);
    // Removes every line, received or typed.
    void Clear();
    // Replaces the content; lines are split at "\r\n", "\n" and "\r". An empty text gives
    // an empty pane (no line at all).
    void SetText(const QString& text);

    qsizetype LineCount() const { return fLines.Count(); }
    // The line as shown (empty for an index out of range).
    QString Line(qsizetype index) const;
    // All lines joined with "\r\n".
    QString Text() const;

    // The whole text as saved: every line followed by CR LF, in Windows-1252, '?' for a
    // character the code page cannot hold. An empty pane gives no byte at all.
    QByteArray SaveBytes() const;
    // Creates or empties the file and writes SaveBytes() to it, streamed. On failure returns
    // false and puts the system's reason (e.g. "Permission denied") into *errorText.
    bool SaveToFile(const QString& path, QString* errorText) const;

    // Caret and selection as (line, column) in characters of the line.
    struct TPosition {
        qsizetype line = 0;
        qsizetype column = 0;
        friend bool operator==(const TPosition&, const TPosition&) = default;
        friend auto operator<=>(const TPosition&, const TPosition&) = default;
    };
    TPosition CaretPosition() const { return fCaret; }
    TPosition AnchorPosition() const { return fAnchor; }
    bool HasSelection() const { return fCaret != fAnchor; }
    QString SelectedText() const;
    // Places the caret; with keepAnchor the selection runs from the old anchor to it.
    void SetCaretPosition(TPosition position, bool keepAnchor = false);
    void SelectAll();

    // Clipboard and edit actions, as the keys and the context menu run them.
    void Copy() const;
    void Cut();
    void Paste();
    void DeleteSelection();
    void Undo();
    bool CanUndo() const { return !fUndo.empty(); }

    // First line shown at the top of the view, and the first column shown at the left.
    qsizetype FirstVisibleLine() const;
    qsizetype FirstVisibleColumn() const;
    // Lines that fit in the view, whole or not.
    int VisibleLineCount() const;
    // The rectangle of a character cell in viewport coordinates (for tests and tooltips);
    // a column at or past the end of the line gives the cell after the last character.
    QRect CellRect(TPosition position) const;
    // The position under a viewport point.
    TPosition PositionAt(const QPoint& viewportPoint) const;

    // Brings pending appends to the view now (scroll ranges, following the tail, repaint)
    // instead of at the next frame.
    void FlushPendingAppends();

    // Called with the context menu just before it opens, after a separator below the
    // pane's own items: a host adds items of its own there.
    std::function<void(QMenu& menu)> OnContextMenu;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    // One user edit, enough to take it back: the text now between `from` and `to`
    // replaced `removed`.
    struct TEdit {
        TPosition from;
        TPosition to;
        QString removed;
        TPosition caretBefore;
        TPosition anchorBefore;
        bool typing = false;
        // The pane had no line before the edit / has none after it.
        bool createdLines = false;
        bool removedAll = false;
    };

    void ScheduleRefresh();
    void Refresh();
    void UpdateMetrics();
    // No glyph in view reaches out of its row: rows can be moved as painted, and painted
    // alone.
    bool RowsStayInside() const;
    // Sets the scroll ranges from the content; a view at the bottom stays at the bottom.
    void UpdateScrollBars();
    void EnsureCaretVisible();
    void RestartCaretBlink();
    // Replaces the text between two positions by lines (one element: no line break).
    void ReplaceRange(TPosition from, TPosition to, QStringList lines, bool typing);
    void DeleteRange(TPosition from, TPosition to);
    void InsertTyped(const QString& text);
    TPosition Clamp(TPosition position) const;
    TPosition PreviousCharacter(TPosition position) const;
    TPosition NextCharacter(TPosition position) const;
    TPosition PreviousWord(TPosition position) const;
    TPosition NextWord(TPosition position) const;
    TPosition EndOfText() const;
    void MoveCaret(TPosition position, bool select);
    void MoveVertically(qsizetype lines, bool select);
    void SelectWordAt(TPosition position);
    bool HandleKey(QKeyEvent* event);
    void AutoScrollTo(const QPoint& viewportPoint);
    QString TextBetween(TPosition from, TPosition to) const;
    void ClearState();
    void UpdatePrimarySelection() const;

    TLineStore fLines;

    TPosition fCaret;
    TPosition fAnchor;
    // Display column the caret keeps while moving up and down through shorter lines.
    qsizetype fDesiredColumn = -1;
    std::vector<TEdit> fUndo;

    // Advance of one character cell (fractional: what the font really advances).
    double fCharWidth = 8;
    int fLineHeight = 15;
    double fAscent = 12;
    // Pixels the ink of the code page's glyphs reaches above and below their row. Rows are
    // moved and painted one by one only while both are 0 (as with the pane's own font).
    int fInkAbove = 0;
    int fInkBelow = 0;
    // Widest line seen when painting, in display columns; the scroll range covers it.
    qsizetype fWidestSeen = 0;

    bool fRefreshPending = false;
    // Lines there were when the view last caught up.
    qsizetype fCountAtRefresh = 0;
    QBasicTimer fRefreshTimer;
    QElapsedTimer fSinceRefresh;

    QBasicTimer fBlinkTimer;
    bool fCaretShown = false;

    bool fDragging = false;
    QPoint fDragPoint;
    QBasicTimer fAutoScrollTimer;
};
