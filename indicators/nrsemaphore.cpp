#include "nrsemaphore.h"

#include "nrlamp3d.h"

#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>

// ---------------------------------------------------------------------------------------
// TnrLampImage

QRgb TnrLampImage::KeyColor() const {
    if (AutoTransparentColor) return Image.isNull() ? qRgb(0, 0, 0) : Image.pixel(0, Image.height() - 1);
    return TransparentColor;
}

QImage TnrLampImage::Masked() const {
    if (!Transparent || Image.isNull()) return Image;
    QImage masked = Image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = KeyColor() & RGB_MASK;
    for (int y = 0; y < masked.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(masked.scanLine(y));
        for (int x = 0; x < masked.width(); ++x)
            if ((line[x] & RGB_MASK) == key) line[x] = 0;
    }
    return masked;
}

// ---------------------------------------------------------------------------------------
// TnrSemaphore

TnrSemaphore::TnrSemaphore(QWidget* AOwner)
    : TGraphicControl(AOwner), PulseTimer(std::make_unique<TnrTimer>()),
      fImagesNotice(this, [this](QObject* removed) { ImagesRemoved(removed); }) {
    PulseTimer->SetEnabled(false);
    PulseTimer->SetInterval(1000);
    PulseTimer->SetOnTimer(TNotifyEvent(this, &TnrSemaphore::PulseElapsed));
    resize(16, 16);
    SetChecked(true);
    RebuildImages();
}

TnrSemaphore::~TnrSemaphore() {
    if (TnrBlink* blinker = Blinker()) blinker->DeleteSemaphore(this);
    PulseTimer.reset();
}

void TnrSemaphore::SetChecked(bool Value) {
    if (fPulse) {
        PulseTimer->SetEnabled(false);
        if (Value) PulseTimer->SetEnabled(true);
    }
    if (Value != fChecked) {
        fChecked = Value;
        SelectImage(Value);
    }
}

void TnrSemaphore::SetBlink(bool Value) {
    if (Value == fBlink) return;
    TnrBlink* blinker = Blinker();
    if (Value) {
        if (!blinker)
            throw ENrException(
                QStringLiteral("%1: no blinker; initialise nrsemaphoreModule first")
                    .arg(objectName().isEmpty() ? QStringLiteral("TnrSemaphore") : objectName()));
        fBlink = true;
        blinker->AddSemaphore(this);
        return;
    }
    fBlink = false;
    if (blinker) blinker->DeleteSemaphore(this);
    SelectImage(fChecked);
}

std::uint32_t TnrSemaphore::BlinkInterval() const {
    const TnrBlink* blinker = Blinker();
    return blinker ? blinker->Interval() : kDefaultBlinkInterval;
}

void TnrSemaphore::SetBlinkInterval(std::uint32_t Value) {
    TnrBlink* blinker = Blinker();
    if (!blinker)
        throw ENrException(QStringLiteral("%1: no blinker; initialise nrsemaphoreModule first")
                               .arg(objectName().isEmpty() ? QStringLiteral("TnrSemaphore") : objectName()));
    blinker->SetInterval(Value);
}

void TnrSemaphore::SetPulse(bool Value) {
    PulseTimer->SetEnabled(Value);
    fPulse = Value;
}

void TnrSemaphore::PulseElapsed(QObject*) {
    SetChecked(false);
}

void TnrSemaphore::SetImages(TImageList* Value) {
    if (FImages && FImages != Value) fImagesNotice.Remove(FImages);
    FImages = Value;
    if (FImages) fImagesNotice.Request(FImages);
    RebuildImages();
}

void TnrSemaphore::ImagesRemoved(QObject* AComponent) {
    if (AComponent == FImages) FImages = nullptr;
}

void TnrSemaphore::SetImageChecked(int Value) {
    fImageChecked = Value;
    RebuildImages();
}

void TnrSemaphore::SetImageUnChecked(int Value) {
    fImageUnChecked = Value;
    RebuildImages();
}

void TnrSemaphore::SetStyle3D(TnrStyle3D Value) {
    if (Value == fStyle3D) return;
    fStyle3D = Value;
    RebuildImages();
}

void TnrSemaphore::SetFrame3D(bool Value) {
    if (Value == fFrame3D) return;
    fFrame3D = Value;
    RebuildImages();
}

void TnrSemaphore::SetColor3DCheck(TColor Value) {
    if (Value == fColor3DCheck) return;
    fColor3DCheck = Value;
    RebuildImages();
}

void TnrSemaphore::SetColor3DUnCheck(TColor Value) {
    if (Value == fColor3DUnCheck) return;
    fColor3DUnCheck = Value;
    RebuildImages();
}

void TnrSemaphore::SetTransparent(bool Value) {
    if (Value == fTransparent) return;
    fTransparent = Value;
    RebuildImages();
}

void TnrSemaphore::SetStretchImage(bool Value) {
    if (Value == fStretchImage) return;
    fStretchImage = Value;
    RebuildImages();
}

void TnrSemaphore::SelectImage(bool State) {
    fBmpPaint = State ? &fBmpCheck : &fBmpUnCheck;
    update();
}

void TnrSemaphore::RebuildImages() {
    BuildImages();
    SelectImage(fChecked);
}

void TnrSemaphore::BuildImages() {
    try {
        if (fStyle3D != nrs3DNone) {
            Render3D(fBmpCheck, fColor3DCheck, fStyle3D);
            Render3D(fBmpUnCheck, fColor3DUnCheck, fStyle3D);
        } else if (FImages) {
            // Read both first, so that a bad index changes neither image.
            QImage checked = fImageChecked >= 0 ? FImages->GetBitmap(fImageChecked) : fBmpCheck.Image;
            QImage unchecked = fImageUnChecked >= 0 ? FImages->GetBitmap(fImageUnChecked) : fBmpUnCheck.Image;
            for (auto [bitmap, image] :
                 {std::pair{&fBmpCheck, &checked}, std::pair{&fBmpUnCheck, &unchecked}}) {
                bitmap->Image = *image;
                bitmap->Transparent = fTransparent;
                bitmap->AutoTransparentColor = true;
            }
        }
    } catch (...) {
        // A failed rebuild is dropped; the lamp still shows its state.
    }
}

void TnrSemaphore::Render3D(TnrLampImage& Bitmap, TColor Color, TnrStyle3D Style) {
    const QSize size(qMax(width(), 0), qMax(height(), 0));
    Bitmap.Image = QImage(size, QImage::Format_RGB32);
    Bitmap.Image.fill(Qt::white);
    Bitmap.Transparent = fTransparent;
    Bitmap.AutoTransparentColor = false;
    Bitmap.TransparentColor = qRgb(255, 255, 255);
    if (size.isEmpty()) return;

    TnrLamp3DScene scene;
    scene.Width = size.width();
    scene.Height = size.height();
    // The colour's bytes as they are: a system colour reference is not resolved here.
    scene.Red = GetRValue(Color) / 255.0f;
    scene.Green = GetGValue(Color) / 255.0f;
    scene.Blue = GetBValue(Color) / 255.0f;
    scene.Shape = Style;
    scene.Frame = fFrame3D;
    if (OnDraw3D) {
        scene.Draw = [](void* lamp) {
            auto* self = static_cast<TnrSemaphore*>(lamp);
            self->OnDraw3D(self);
        };
        scene.DrawContext = this;
    }
    // Drawn aside: a handler that throws leaves the white image.
    QImage rendered(size, QImage::Format_RGB32);
    if (Lamp3DRender(scene, reinterpret_cast<std::uint32_t*>(rendered.bits()), nullptr)) Bitmap.Image = rendered;
}

void* TnrSemaphore::GLProcAddress(const char* Name) {
    return Lamp3DProcAddress(Name);
}

void TnrSemaphore::SaveToFile(const QString& aFileName) {
    RebuildImages();
    const QImage& image = (fChecked ? fBmpCheck : fBmpUnCheck).Image;
    QSaveFile file(aFileName);
    if (!file.open(QIODevice::WriteOnly))
        throw ENrException(
            QStringLiteral("Cannot create file \"%1\". %2").arg(aFileName, file.errorString()));
    QImageWriter writer(&file, "BMP");
    // Qt writes 24-bit BMP files for images without alpha.
    if (image.isNull() || !writer.write(image.convertToFormat(QImage::Format_RGB32)))
        throw ENrException(QStringLiteral("Cannot write file \"%1\". %2")
                               .arg(aFileName, image.isNull() ? QStringLiteral("The image is empty.")
                                                              : writer.errorString()));
    if (!file.commit())
        throw ENrException(QStringLiteral("Cannot write file \"%1\". %2").arg(aFileName, file.errorString()));
}

void TnrSemaphore::Paint() {
    // A hidden control gets no resize events: rendered images catch up here.
    if (fStyle3D != nrs3DNone && fBmpPaint && fBmpPaint->Image.size() != size()) BuildImages();
    if (!fBmpPaint || fBmpPaint->IsEmpty() || !Canvas()) return;
    const QImage image = fBmpPaint->Masked();
    QPainter& canvas = *Canvas();
    if (fStyle3D == nrs3DNone && !fStretchImage) {
        canvas.drawImage(QPoint((width() - image.width()) / 2, (height() - image.height()) / 2), image);
        return;
    }
    canvas.setRenderHint(QPainter::SmoothPixmapTransform, false);
    canvas.drawImage(rect(), image);
}

void TnrSemaphore::resizeEvent(QResizeEvent* event) {
    RebuildImages();
    TGraphicControl::resizeEvent(event);
}

// ---------------------------------------------------------------------------------------
// TnrBlink

TnrBlink::TnrBlink() {
    SetEnabled(false);
    SetInterval(kDefaultBlinkInterval);
    SetOnTimer(TNotifyEvent(this, &TnrBlink::OnBlinkTimer));
}

TnrBlink::~TnrBlink() {
    // Lamps still listed keep their Blink flag; they find no blinker any more.
    List.clear();
}

void TnrBlink::AddSemaphore(TnrSemaphore* Sem) {
    if (Sem && !List.contains(Sem)) List.append(Sem);
    SetEnabled(!List.isEmpty());
}

void TnrBlink::DeleteSemaphore(TnrSemaphore* Sem) {
    List.removeAll(Sem);
    SetEnabled(!List.isEmpty());
}

void TnrBlink::OnBlinkTimer(QObject*) {
    FLightFlag = !FLightFlag;
    // A copy: a handler reached from here may add or remove lamps.
    const QList<TnrSemaphore*> lamps = List;
    for (TnrSemaphore* lamp : lamps)
        if (List.contains(lamp) && lamp->Checked()) lamp->SelectImage(FLightFlag);
}

// ---------------------------------------------------------------------------------------
// Module start-up

namespace {

TnrBlink* gBlinker = nullptr;

void InitializeSemaphore() {
    if (!gBlinker) gBlinker = new TnrBlink();
}

void FinalizeSemaphore() {
    delete gBlinker;
    gBlinker = nullptr;
}

} // namespace

TnrBlink* Blinker() {
    return gBlinker;
}

const TLibraryModule nrsemaphoreModule{"nrsemaphore", &InitializeSemaphore, &FinalizeSemaphore};
