#include "VrControls.h"

#include <QPainter>

// ---------------------------------------------------------------------------------------
// TVrGraphicControl

TVrGraphicControl::TVrGraphicControl(QWidget* AOwner)
    : TGraphicControl(AOwner), FVersion(QStringLiteral("1.4.5")) {}

TVrGraphicControl::~TVrGraphicControl() = default;

void TVrGraphicControl::BeginUpdate() {
    ++FUpdateCount;
}

void TVrGraphicControl::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    RequestRepaint();
}

void TVrGraphicControl::Loaded() {
    TGraphicControl::Loaded();
    RequestRepaint();
}

void TVrGraphicControl::RequestRepaint() {
    if (!IsLoading() && FUpdateCount == 0) repaint();
}

void TVrGraphicControl::ReapplyAutoSize() {
    if (fAutoSize)
        ReapplyBounds();
    else
        RequestRepaint();
}

void TVrGraphicControl::ReapplyBounds() {
    if (IsLoading()) return;
    const QRect before = geometry();
    // Size constraints may have changed since the bounds were set.
    setGeometry(before);
    if (geometry() == before) RequestRepaint();
}

void TVrGraphicControl::MouseEntered() {
    if (FOnMouseEnter) FOnMouseEnter(this);
}

void TVrGraphicControl::MouseLeft() {
    if (FOnMouseLeave) FOnMouseLeave(this);
}

void TVrGraphicControl::FontChanged() {
    if (FOnFontChanged) FOnFontChanged(this);
}

void TVrGraphicControl::CaptionChanged() {
    TextChanged();
}

void TVrGraphicControl::TextChanged() {
    if (FOnTextChanged) FOnTextChanged(this);
}

// ---------------------------------------------------------------------------------------
// TVrGraphicImageControl

TVrGraphicImageControl::TVrGraphicImageControl(QWidget* AOwner) : TVrGraphicControl(AOwner) {
    SetOpaque(true);
}

TVrGraphicImageControl::~TVrGraphicImageControl() = default;

void TVrGraphicImageControl::SetTransparent(bool Value) {
    if (Value == FTransparent) return;
    FTransparent = Value;
    SetOpaque(!Value);
    RequestRepaint();
}

void TVrGraphicImageControl::RequestRepaint() {
    // The control alone is redrawn over the kept snapshot; the parent is not asked to
    // draw beneath it again.
    if (FTransparent && !FOverlay.isNull()) {
        FRefreshOverlay = false;
        SetOpaque(true);
    }
    TVrGraphicControl::RequestRepaint();
}

void TVrGraphicImageControl::PrepareImage() {
    const QSize size(qMax(width(), 0), qMax(height(), 0));
    if (FBitmapImage.size() != size) FBitmapImage = QImage(size, QImage::Format_RGB32);
    if (FBitmapImage.isNull()) return;
    if (!FTransparent) {
        FBitmapImage.fill(ColorToQColor(Color()));
        return;
    }
    if (FRefreshOverlay || FOverlay.size() != size) TakeOverlaySnapshot();
    QPainter painter(&FBitmapImage);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, FOverlay);
}

void TVrGraphicImageControl::TakeOverlaySnapshot() {
    FOverlay = QImage(size(), QImage::Format_RGB32);
    FOverlay.fill(ColorToQColor(Color()));
    QWidget* parent = parentWidget();
    if (parent) {
        // What the parent itself draws beneath the control, then the sibling controls
        // lower in the stacking order that overlap it.
        parent->render(&FOverlay, QPoint(0, 0), QRegion(geometry()), QWidget::DrawWindowBackground);
        for (QObject* child : parent->children()) {
            if (child == this) break;
            auto* sibling = qobject_cast<QWidget*>(child);
            if (!sibling || !sibling->isVisible() || sibling->isWindow() ||
                !sibling->geometry().intersects(geometry()))
                continue;
            const QRect overlap = sibling->geometry() & geometry();
            sibling->render(&FOverlay, overlap.topLeft() - pos(),
                            QRegion(overlap.translated(-sibling->pos())),
                            QWidget::DrawWindowBackground | QWidget::DrawChildren);
        }
    }
    FRefreshOverlay = false;
}

void TVrGraphicImageControl::Paint() {
    PrepareImage();
    FlushImage();
}

void TVrGraphicImageControl::FlushImage() {
    if (QPainter* canvas = Canvas()) canvas->drawImage(0, 0, FBitmapImage);
    if (FTransparent) {
        FRefreshOverlay = true;
        SetOpaque(false);
    }
}
