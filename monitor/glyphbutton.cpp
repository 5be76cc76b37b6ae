#include "glyphbutton.h"

#include "pictures.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

TGlyphButton::TGlyphButton(const QIcon& glyph, const QString& caption, QWidget* parent)
    : QPushButton(glyph, caption, parent) {
    setIconSize(QSize(kPictureSize, kPictureSize));
}

void TGlyphButton::SetSpacing(int value) {
    if (fSpacing == value) return;
    fSpacing = value;
    update();
}

void TGlyphButton::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    option.icon = QIcon();
    p.drawControl(QStyle::CE_PushButtonBevel, option);

    const QRect content = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    const QSize glyphSize = icon().isNull() ? QSize() : iconSize();
    const int textWidth = fontMetrics().size(Qt::TextShowMnemonic, caption).width();
    const int gap = glyphSize.isEmpty() || caption.isEmpty() ? 0 : fSpacing;
    const int total = glyphSize.width() + gap + textWidth;
    int x = content.left() + (content.width() - total) / 2;
    // A pressed button shows its content shifted, as the style does for its own label.
    const int shift = isDown() ? style()->pixelMetric(QStyle::PM_ButtonShiftHorizontal, &option, this) : 0;
    const int shiftY = isDown() ? style()->pixelMetric(QStyle::PM_ButtonShiftVertical, &option, this) : 0;
    x += shift;

    if (!glyphSize.isEmpty()) {
        const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
        const QPixmap glyph = icon().pixmap(glyphSize, devicePixelRatioF(), mode);
        const int y = content.top() + (content.height() - glyphSize.height()) / 2 + shiftY;
        p.drawPixmap(x, y, glyph);
        x += glyphSize.width() + gap;
    }
    const QRect textRect(x, content.top() + shiftY, textWidth, content.height());
    int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic;
    if (!style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this)) flags |= Qt::TextHideMnemonic;
    p.drawItemText(textRect, flags, palette(), isEnabled(), caption, QPalette::ButtonText);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->subElementRect(QStyle::SE_PushButtonFocusRect, &option, this);
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}
