// The two bases of the Vr indicator controls.
//
//   TVrGraphicControl       update counting (BeginUpdate/EndUpdate), the version stamp,
//                           repaint requests that wait while loading or updating, and the
//                           mouse, font and caption notifications as events.
//   TVrGraphicImageControl  an off-screen image the size of the control, painted by
//                           PrepareImage and descendants, then copied to the screen in one
//                           piece; optional see-through mode that keeps a snapshot of
//                           what lies beneath the control.
//
// See-through mode: the snapshot is taken at a paint when it is stale and then marked
// stale again, with the control non-opaque, so that the next paint the window system
// asks for (after the parent redrew beneath) takes a fresh one. A repaint the control
// asks for itself, because a property changed, reuses the kept snapshot and marks the
// control opaque for that paint, so only the control is redrawn.
//
// Threads: widgets; user-interface thread only.
#pragma once

#include "nrgraphiccontrol.h"

#include <QImage>
#include <QString>

class TVrGraphicControl : public TGraphicControl {
    Q_OBJECT
public:
    explicit TVrGraphicControl(QWidget* AOwner = nullptr);
    ~TVrGraphicControl() override;

    QString Version() const { return FVersion; }

    // Nested; EndUpdate repaints once the count is back at 0. An EndUpdate without a
    // matching BeginUpdate leaves the count at 0.
    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    void Loaded() override;

    bool AutoSize() const { return fAutoSize; }
    void SetAutoSize(bool Value) { fAutoSize = Value; }

    // Repaints now, unless loading or between BeginUpdate and EndUpdate.
    virtual void RequestRepaint();
    virtual void ReapplyAutoSize();
    virtual void ReapplyBounds();

protected:
    void MouseEntered() override;
    void MouseLeft() override;
    void FontChanged() override;
    void CaptionChanged() override;
    virtual void TextChanged();

    TNotifyEvent FOnMouseEnter;
    TNotifyEvent FOnMouseLeave;
    TNotifyEvent FOnFontChanged;
    TNotifyEvent FOnTextChanged;

private:
    QString FVersion;
    int FUpdateCount = 0;
    bool fAutoSize = false;
};

class TVrGraphicImageControl : public TVrGraphicControl {
    Q_OBJECT
public:
    explicit TVrGraphicImageControl(QWidget* AOwner = nullptr);
    ~TVrGraphicImageControl() override;

    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);

    void RequestRepaint() override;

    // The off-screen image as the last paint left it.
    const QImage& BitmapImage() const { return FBitmapImage; }
    // The background snapshot; null until see-through mode took one.
    const QImage& Overlay() const { return FOverlay; }
    bool OverlayStale() const { return FRefreshOverlay; }

protected:
    // Sizes the off-screen image to the control and fills it: with Color, or in
    // see-through mode with the background snapshot (taken first when stale).
    virtual void PrepareImage();
    void Paint() override;
    // Copies the off-screen image to the canvas in one piece and, in see-through mode,
    // marks the snapshot stale for the next paint.
    void FlushImage();
    QImage& MutableBitmapImage() { return FBitmapImage; }

private:
    void TakeOverlaySnapshot();

    QImage FOverlay;
    QImage FBitmapImage;
    bool FRefreshOverlay = true;
    bool FTransparent = false;
};
