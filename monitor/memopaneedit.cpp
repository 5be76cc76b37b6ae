#include "memopane.h"

#include "memopanelayout.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyleHints>
#include <algorithm>

using namespace memopanelayout;

namespace {

// Undo keeps a removed text only up to this size; a bigger deletion cannot be taken back.
constexpr qsizetype kUndoTextLimit = qsizetype(8) << 20;
constexpr std::size_t kUndoDepth = 100;
// The exact lines of a copy, so that a paste into a pane gives them back unchanged
// (line feeds inside lines included); other programs get text/plain.
const char* const kLinesMime = "application/x-brisemer-lines";

} // namespace

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
    if (OnContextMenu) {
        menu.addSeparator();
        OnContextMenu(menu);
    }
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
