#include "VrLeds.h"

#include "VrLedGlyphs.h"

#include <QPainter>

namespace {

const char* const kGlyphSuffix[] = {"RND", "RECT", "BIG"};

// Copies the cell at source onto target with its top-left at at, leaving out the key
// colour and whatever falls outside target.
void DrawCellKeyed(QImage& target, const QPoint& at, const QImage& glyphs, const QRect& source, QRgb key) {
    const QRect cell = source & glyphs.rect();
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        const int ty = at.y() + (y - source.top());
        if (ty < 0 || ty >= target.height()) continue;
        const auto* from = reinterpret_cast<const QRgb*>(glyphs.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(target.scanLine(ty));
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const int tx = at.x() + (x - source.left());
            if (tx < 0 || tx >= target.width()) continue;
            if ((from[x] & RGB_MASK) != (key & RGB_MASK)) to[tx] = from[x] | ~RGB_MASK;
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// TVrCustomLed

TVrCustomLed::TVrCustomLed(QWidget* AOwner) : TVrGraphicImageControl(AOwner) {
    SetAcceptsDoubleClicks(false);
    setGeometry(0, 0, 25, 25);
    SetColor(clBlack);
    SetFontColor(clWhite);
    FPalette = new TVrPalette(this);
    FPalette->SetLow(clMaroon);
    FPalette->SetHigh(clRed);
    FPalette->OnChange = TNotifyEvent(this, &TVrCustomLed::PaletteModified);
    ReloadGlyph();
}

TVrCustomLed::~TVrCustomLed() {
    // The palette is a child object: stop it calling back into a half-destroyed LED.
    FPalette->OnChange = nullptr;
}

void TVrCustomLed::SetActive(bool Value) {
    if (Value == FActive) return;
    FActive = Value;
    RequestRepaint();
    if (FOnChange) FOnChange(this);
}

void TVrCustomLed::SetPalette(const TVrPalette* Value) {
    FPalette->Assign(Value);
}

void TVrCustomLed::SetLedType(TVrLedType Value) {
    if (Value == FLedType) return;
    FLedType = Value;
    ReloadGlyph();
    RequestRepaint();
}

void TVrCustomLed::SetLayout(TVrImageTextLayout Value) {
    if (Value == FLayout) return;
    FLayout = Value;
    RequestRepaint();
}

void TVrCustomLed::SetMargin(int Value) {
    if (Value == FMargin) return;
    FMargin = Value;
    RequestRepaint();
}

void TVrCustomLed::SetSpacing(int Value) {
    if (Value == FSpacing) return;
    FSpacing = Value;
    RequestRepaint();
}

void TVrCustomLed::SetGlyphs(const QImage& Value) {
    FGlyphs = Value.isNull() ? QImage() : Value.convertToFormat(QImage::Format_RGB32);
    ReloadGlyph();
    RequestRepaint();
}

void TVrCustomLed::PaletteModified(QObject*) {
    ReloadGlyph();
    RequestRepaint();
}

void TVrCustomLed::ReloadGlyph() {
    if (FLedType == ltCustom) {
        FBitmap = FGlyphs;
        return;
    }
    FBitmap = LoadBitmap(QStringLiteral("LI_%1").arg(QLatin1String(kGlyphSuffix[FLedType])));
    FPalette->ToBMP(FBitmap, clMaroon, clRed);
}

void TVrCustomLed::CaptionChanged() {
    TextChanged();
    RequestRepaint();
}

void TVrCustomLed::SystemColorsChanged() {
    ReloadGlyph();
}

void TVrCustomLed::Paint() {
    PrepareImage();
    QImage& image = MutableBitmapImage();
    if (!image.isNull()) {
        const QSize glyphSize(FBitmap.width() / 2, FBitmap.height());
        LayoutGlyphAndText(font(), rect(), Caption(), FLayout, FMargin, FSpacing, glyphSize, FImageRect,
                           FTextBounds);
        const QRect source(QPoint(glyphSize.width() * (FActive ? 1 : 0), 0), glyphSize);
        const QRgb key = FLedType == ltCustom ? ColorToQRgb(Color()) : qRgb(0, 0, 0);
        DrawCellKeyed(image, FImageRect.topLeft(), FBitmap, source, key);

        QPainter painter(&image);
        painter.setFont(font());
        painter.setPen(ColorToQColor(FontColor()));
        DrawCaption(painter, FTextBounds, Caption());
    }
    FlushImage();
}

// ---------------------------------------------------------------------------------------
// TVrLed

TVrLed::TVrLed(QWidget* AOwner) : TVrCustomLed(AOwner) {}

TVrLed::~TVrLed() = default;

void TVrLed::SetColors(TColor Low, TColor High) {
    Palette()->BeginUpdate();
    Palette()->SetLow(Low);
    Palette()->SetHigh(High);
    Palette()->EndUpdate();
}

// ---------------------------------------------------------------------------------------
// Module start-up

namespace {

void InitializeVrLeds() {
    SetScreenCursor(crVrHandPoint, LoadCursor(QStringLiteral("VRCURSORHANDPOINT")));
}

void FinalizeVrLeds() {
    RemoveScreenCursor(crVrHandPoint);
}

} // namespace

const TLibraryModule VrLedsModule{"VrLeds", &InitializeVrLeds, &FinalizeVrLeds};
