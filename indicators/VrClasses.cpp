#include "VrClasses.h"

#include "nrcomponent.h"

#include <QBitArray>

// ---------------------------------------------------------------------------------------
// TVrPersistent

TVrPersistent::TVrPersistent(QObject* AOwner) : QObject(AOwner) {}

TVrPersistent::~TVrPersistent() = default;

void TVrPersistent::EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
    Changed();
}

void TVrPersistent::Changed() {
    if (FUpdateCount == 0 && OnChange) OnChange(this);
}

// ---------------------------------------------------------------------------------------
// TVrPalette

namespace {

// A one-bit mask of the pixels of image that equal color exactly.
QBitArray MaskOfColor(const QImage& image, QRgb color) {
    QBitArray mask(image.width() * image.height());
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & RGB_MASK) == (color & RGB_MASK)) mask.setBit(y * image.width() + x);
    }
    return mask;
}

void PaintMasked(QImage& image, const QBitArray& mask, QRgb color) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (mask.testBit(y * image.width() + x)) line[x] = color | ~RGB_MASK;
    }
}

QString ClassNameOf(const QObject* object) {
    return object ? QString::fromLatin1(object->metaObject()->className()) : QStringLiteral("nil");
}

} // namespace

TVrPalette::TVrPalette(QObject* AOwner) : TVrPersistent(AOwner) {}

TVrPalette::~TVrPalette() = default;

void TVrPalette::SetLow(TColor Value) {
    if (Value != FLow) {
        FLow = Value;
        Changed();
    }
}

void TVrPalette::SetHigh(TColor Value) {
    if (Value != FHigh) {
        FHigh = Value;
        Changed();
    }
}

void TVrPalette::Assign(const QObject* Source) {
    if (const auto* other = qobject_cast<const TVrPalette*>(Source)) {
        BeginUpdate();
        SetLow(other->Low());
        SetHigh(other->High());
        EndUpdate();
        return;
    }
    throw ENrException(QStringLiteral("Cannot assign a %1 to a %2")
                           .arg(ClassNameOf(Source), QString::fromLatin1(metaObject()->className())));
}

TColor TVrPalette::GetColors(int Index) const {
    return Index <= 0 ? FLow : FHigh;
}

void TVrPalette::ToBMP(QImage& Bitmap, TColor DarkColor, TColor LightColor) const {
    if (Bitmap.isNull()) return;
    if (Bitmap.format() != QImage::Format_RGB32 && Bitmap.format() != QImage::Format_ARGB32)
        Bitmap.convertTo(QImage::Format_RGB32);
    const QImage untouched = Bitmap.copy();
    PaintMasked(Bitmap, MaskOfColor(untouched, ColorToQRgb(DarkColor)), ColorToQRgb(GetColors(0)));
    PaintMasked(Bitmap, MaskOfColor(untouched, ColorToQRgb(LightColor)), ColorToQRgb(GetColors(1)));
}
