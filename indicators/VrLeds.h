// The LED indicator: a lamp glyph, lit or unlit, beside a caption.
//
//   TVrCustomLed  glyph, palette, layout of glyph and caption, painting;
//   TVrLed        the published control (adds nothing else).
//
// The glyph is one of the built-in bitmaps (LedType) or the user's two-cell bitmap
// (ltCustom, Glyphs): left cell unlit, right cell lit. Built-in glyphs are recoloured
// once per reload with the palette (Low for the unlit body, High for the lit body);
// a paint only copies one cell, leaving out black (built-in) or Color (ltCustom).
//
// A new LED is 25 x 25, black, with a white caption font, unlit, ltRounded, Spacing 5,
// Margin -1 (automatic), ImageLeft, palette maroon/red. A lamp of a channel:
//
//     auto* led = new TVrLed(form);
//     led->SetBounds(x, y, 61, 15);
//     led->SetLedType(ltLargeRect);
//     led->SetCaption("On");
//     led->SetColors(clGreen, clLime);     // or Palette()->SetLow(...) / SetHigh(...)
//     led->SetActive(true);
//
// Threads: a widget; user-interface thread only.
#pragma once

#include "VrClasses.h"
#include "VrControls.h"
#include "VrSysUtils.h"
#include "nrmodules.h"

#include <QImage>
#include <cstdint>

enum TVrLedType : std::uint8_t { ltRounded, ltRectangle, ltLargeRect, ltCustom };

class TVrCustomLed : public TVrGraphicImageControl {
    Q_OBJECT
public:
    explicit TVrCustomLed(QWidget* AOwner = nullptr);
    ~TVrCustomLed() override;

protected:
    bool Active() const { return FActive; }
    void SetActive(bool Value);
    TVrPalette* Palette() const { return FPalette; }
    void SetPalette(const TVrPalette* Value);
    TVrLedType LedType() const { return FLedType; }
    void SetLedType(TVrLedType Value);
    TVrImageTextLayout Layout() const { return FLayout; }
    void SetLayout(TVrImageTextLayout Value);
    int Margin() const { return FMargin; }
    void SetMargin(int Value);
    int Spacing() const { return FSpacing; }
    void SetSpacing(int Value);
    const QImage& Glyphs() const { return FGlyphs; }
    void SetGlyphs(const QImage& Value);

    // Rebuilds the working glyph: the custom bitmap as it is, or the built-in bitmap
    // recoloured with the palette.
    virtual void ReloadGlyph();
    void Paint() override;
    void CaptionChanged() override;
    void SystemColorsChanged() override;

    // Where the last paint put the glyph cell and the caption.
    QRect ImageRect() const { return FImageRect; }
    QRect TextBounds() const { return FTextBounds; }
    // The working glyph: both cells, recoloured.
    const QImage& GlyphBitmap() const { return FBitmap; }

    TNotifyEvent FOnChange;

private:
    void PaletteModified(QObject* Sender);

    TVrLedType FLedType = ltRounded;
    TVrPalette* FPalette = nullptr;
    bool FActive = false;
    int FSpacing = 5;
    int FMargin = -1;
    TVrImageTextLayout FLayout = ImageLeft;
    QImage FGlyphs;
    QRect FImageRect;
    QRect FTextBounds;
    QImage FBitmap;
};

class TVrLed : public TVrCustomLed {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
public:
    explicit TVrLed(QWidget* AOwner = nullptr);
    ~TVrLed() override;

    using TVrCustomLed::Active;
    using TVrCustomLed::GlyphBitmap;
    using TVrCustomLed::Glyphs;
    using TVrCustomLed::ImageRect;
    using TVrCustomLed::Layout;
    using TVrCustomLed::LedType;
    using TVrCustomLed::Margin;
    using TVrCustomLed::Palette;
    using TVrCustomLed::SetActive;
    using TVrCustomLed::SetGlyphs;
    using TVrCustomLed::SetLayout;
    using TVrCustomLed::SetLedType;
    using TVrCustomLed::SetMargin;
    using TVrCustomLed::SetPalette;
    using TVrCustomLed::SetSpacing;
    using TVrCustomLed::Spacing;
    using TVrCustomLed::TextBounds;

    // Both palette colours at once: one glyph reload, one repaint.
    void SetColors(TColor Low, TColor High);

    // Raised after Active changed, and at no other time.
    TNotifyEvent& OnChange = FOnChange;
};

// Registers the hand-pointer cursor as cursor crVrHandPoint (99).
extern const TLibraryModule VrLedsModule;
