#include "nrgraphiccontrol.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPaintEvent>

TGraphicControl::TGraphicControl(QWidget* AOwner) : QWidget(AOwner) {
    // Mouse-move events arrive whether or not a button is down.
    setMouseTracking(true);
}

TGraphicControl::~TGraphicControl() = default;

void TGraphicControl::Loaded() {
    fLoading = false;
    update();
}

void TGraphicControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    setGeometry(ALeft, ATop, AWidth, AHeight);
}

void TGraphicControl::SetCaption(const QString& Value) {
    if (Value == fCaption) return;
    fCaption = Value;
    CaptionChanged();
}

TColor TGraphicControl::Color() const {
    if (fParentColor && parentWidget())
        return QColorToColor(parentWidget()->palette().color(parentWidget()->backgroundRole()));
    return fColor;
}

void TGraphicControl::SetColor(TColor Value) {
    if (Value == fColor && !fParentColor) return;
    fColor = Value;
    fParentColor = false;
    ColorChanged();
}

void TGraphicControl::SetParentColor(bool Value) {
    if (Value == fParentColor) return;
    fParentColor = Value;
    ColorChanged();
}

void TGraphicControl::SetFontColor(TColor Value) {
    if (Value == fFontColor) return;
    fFontColor = Value;
    FontChanged();
    update();
}

void TGraphicControl::Paint() {}

void TGraphicControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(ColorToQColor(fFontColor));
    fCanvas = &painter;
    // A throwing Paint must not leave a dangling canvas behind.
    struct TCanvasReset {
        QPainter*& canvas;
        ~TCanvasReset() { canvas = nullptr; }
    } reset{fCanvas};
    Paint();
}

void TGraphicControl::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        FontChanged();
        break;
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
        SystemColorsChanged();
        break;
    case QEvent::ParentChange:
        if (fParentColor) ColorChanged();
        break;
    default:
        break;
    }
}

void TGraphicControl::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    MouseEntered();
}

void TGraphicControl::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    MouseLeft();
}

void TGraphicControl::mousePressEvent(QMouseEvent* event) {
    fPressed = event->button() == Qt::LeftButton;
    const QPoint p = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), p.x(), p.y());
}

void TGraphicControl::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    const bool click = fPressed && event->button() == Qt::LeftButton && rect().contains(p);
    fPressed = false;
    if (OnMouseUp) OnMouseUp(this, event->button(), event->modifiers(), p.x(), p.y());
    if (click && OnClick) OnClick(this);
}

void TGraphicControl::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(this, event->modifiers(), p.x(), p.y());
}

void TGraphicControl::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!fDoubleClicks) {
        mousePressEvent(event);
        return;
    }
    fPressed = false;
    const QPoint p = event->position().toPoint();
    if (OnDblClick) OnDblClick(this);
    if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), p.x(), p.y());
}
