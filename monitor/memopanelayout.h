// How a pane lays out the characters of a line: the cells each takes (a tab runs to the
// next multiple of eight columns, control characters take none), the margins of the view,
// and the walk along a long line a piece at a time. Shared by the view and the editing of
// the pane (memopaneview.cpp, memopaneedit.cpp).
#pragma once

#include "linestore.h"

#include <QChar>
#include <QString>
#include <QStringList>

namespace memopanelayout {

constexpr int kLeftMargin = 2;
constexpr int kTopMargin = 1;
constexpr int kTabColumns = 8;
// Characters fetched at a time while walking a line.
constexpr qsizetype kWalkPiece = 4096;

bool IsControl(char16_t c);
// Cells a character takes at display column `column`.
qsizetype CellsOf(QChar ch, qsizetype column);
bool IsWordChar(QChar ch);
QStringList SplitLines(const QString& text);
qsizetype ClampToInt(qsizetype value);
// Display column of the character at `index` (the column after the line's end for an index
// past it).
qsizetype ColumnOf(const TLineStore& lines, qsizetype line, qsizetype index);
// The caret position nearest to a display column (fractional: a point inside a cell).
qsizetype IndexAtColumn(const TLineStore& lines, qsizetype line, double column);

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

} // namespace memopanelayout
