#include "VrSysUtils.h"

#include <QFontMetrics>
#include <QMap>
#include <QStringList>

namespace {

// The caption's lines as they show: line breaks split, mnemonic markers removed.
QStringList CaptionLines(const QString& caption) {
    QString text = caption;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        QString shown;
        shown.reserve(line.size());
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] == QLatin1Char('&') && i + 1 < line.size())
                ++i; // "&x" shows x underlined, "&&" shows "&"
            else if (line[i] == QLatin1Char('&'))
                continue; // a trailing "&" marks nothing and shows nothing
            shown.append(line[i]);
        }
        line = shown;
    }
    return lines;
}

QMap<int, QCursor>& CursorTable() {
    static QMap<int, QCursor> table;
    return table;
}

} // namespace

void LayoutGlyphAndText(const QRect& Client, const QSize& TextSize, TVrImageTextLayout Layout, int Margin,
                        int Spacing, const QSize& GlyphSize, QRect& GlyphPos, QRect& TextBounds) {
    const QPoint C(Client.width(), Client.height());
    const QPoint T(TextSize.width(), TextSize.height());
    const QPoint G(GlyphSize.width(), GlyphSize.height());
    QPoint glyph;
    QPoint text;

    const bool horizontal = Layout == ImageLeft || Layout == ImageRight;
    if (horizontal) {
        glyph.setY((C.y() - G.y() + 1) / 2);
        text.setY((C.y() - T.y() + 1) / 2);
    } else {
        glyph.setX((C.x() - G.x() + 1) / 2);
        text.setX((C.x() - T.x() + 1) / 2);
    }

    if (T.x() == 0 || G.x() == 0) Spacing = 0;

    const int c = horizontal ? C.x() : C.y();
    const int g = horizontal ? G.x() : G.y();
    const int t = horizontal ? T.x() : T.y();
    if (Margin == -1 && Spacing == -1) {
        Margin = (c - g - t) / 3;
        Spacing = Margin;
    } else if (Margin == -1) {
        Margin = (c - (g + Spacing + t) + 1) / 2;
    } else if (Spacing == -1) {
        Spacing = ((c - (Margin + g)) - t) / 2;
    }

    switch (Layout) {
    case ImageLeft:
        glyph.setX(Margin);
        text.setX(Margin + G.x() + Spacing);
        break;
    case ImageRight:
        glyph.setX(C.x() - Margin - G.x());
        text.setX(glyph.x() - Spacing - T.x());
        break;
    case ImageTop:
        glyph.setY(Margin);
        text.setY(Margin + G.y() + Spacing);
        break;
    case ImageBottom:
        glyph.setY(C.y() - Margin - G.y());
        text.setY(glyph.y() - Spacing - T.y());
        break;
    }

    GlyphPos = QRect(glyph, QSize(G.x(), G.y()));
    TextBounds = QRect(text, QSize(T.x(), T.y()));
}

void LayoutGlyphAndText(const QFont& Font, const QRect& Client, const QString& Caption,
                        TVrImageTextLayout Layout, int Margin, int Spacing, const QSize& GlyphSize,
                        QRect& GlyphPos, QRect& TextBounds) {
    LayoutGlyphAndText(Client, MeasureCaption(Font, Caption), Layout, Margin, Spacing, GlyphSize, GlyphPos,
                       TextBounds);
}

QSize MeasureCaption(const QFont& Font, const QString& Caption) {
    if (Caption.isEmpty()) return QSize(0, 0);
    const QFontMetrics metrics(Font);
    const QStringList lines = CaptionLines(Caption);
    int widest = 0;
    for (const QString& line : lines)
        widest = qMax(widest, metrics.horizontalAdvance(line));
    return QSize(widest, metrics.height() * static_cast<int>(lines.size()));
}

void DrawCaption(QPainter& Painter, const QRect& Bounds, const QString& Caption) {
    if (Caption.isEmpty() || Bounds.isEmpty()) return;
    Painter.save();
    Painter.setClipRect(Bounds, Qt::IntersectClip);
    Painter.setBackgroundMode(Qt::TransparentMode);
    // Qt::TextSingleLine shows line breaks as spaces; the box itself is not widened.
    Painter.drawText(QRect(Bounds.left(), Bounds.top(), qMax(Bounds.width(), 1 << 16), Bounds.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic, Caption);
    Painter.restore();
}

void SetScreenCursor(int Index, const QCursor& Cursor) {
    CursorTable().insert(Index, Cursor);
}

void RemoveScreenCursor(int Index) {
    CursorTable().remove(Index);
}

bool HasScreenCursor(int Index) {
    return CursorTable().contains(Index);
}

QCursor ScreenCursor(int Index) {
    return CursorTable().value(Index, QCursor(Qt::ArrowCursor));
}
