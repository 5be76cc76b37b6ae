#include "memopanelayout.h"

#include <QRegularExpression>
#include <algorithm>
#include <climits>

namespace memopanelayout {

bool IsControl(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

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

} // namespace memopanelayout
