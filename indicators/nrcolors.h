// Colours of the component model: 24-bit RGB integers with red in the low byte
// (clMaroon is 128, clRed 255, clGreen 0x8000, clLime 0xFF00), or references to system
// colours (high bit set, the colour's index in the low byte) that are resolved to RGB
// when something is drawn, from the application's Qt palette.
//
// Threads: resolving a system colour reads the application palette, so call
// ColorToRGB and ColorToQColor on the user-interface thread; the rest is pure.
#pragma once

#include <QColor>
#include <cstdint>

using TColor = std::int32_t;

constexpr TColor RGBToColor(int r, int g, int b) {
    return static_cast<TColor>((static_cast<std::uint32_t>(b & 0xFF) << 16) |
                               (static_cast<std::uint32_t>(g & 0xFF) << 8) |
                               static_cast<std::uint32_t>(r & 0xFF));
}

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;

// System colour references: the flag bit plus the system colour index.
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor SystemColor(int index) {
    return static_cast<TColor>(0x80000000u | static_cast<std::uint32_t>(index));
}
constexpr TColor clScrollBar = SystemColor(0);
constexpr TColor clBackground = SystemColor(1);
constexpr TColor clActiveCaption = SystemColor(2);
constexpr TColor clInactiveCaption = SystemColor(3);
constexpr TColor clMenu = SystemColor(4);
constexpr TColor clWindow = SystemColor(5);
constexpr TColor clWindowFrame = SystemColor(6);
constexpr TColor clMenuText = SystemColor(7);
constexpr TColor clWindowText = SystemColor(8);
constexpr TColor clCaptionText = SystemColor(9);
constexpr TColor clActiveBorder = SystemColor(10);
constexpr TColor clInactiveBorder = SystemColor(11);
constexpr TColor clAppWorkSpace = SystemColor(12);
constexpr TColor clHighlight = SystemColor(13);
constexpr TColor clHighlightText = SystemColor(14);
constexpr TColor clBtnFace = SystemColor(15);
constexpr TColor clBtnShadow = SystemColor(16);
constexpr TColor clGrayText = SystemColor(17);
constexpr TColor clBtnText = SystemColor(18);
constexpr TColor clInactiveCaptionText = SystemColor(19);
constexpr TColor clBtnHighlight = SystemColor(20);
constexpr TColor cl3DDkShadow = SystemColor(21);
constexpr TColor cl3DLight = SystemColor(22);
constexpr TColor clInfoText = SystemColor(23);
constexpr TColor clInfoBk = SystemColor(24);

constexpr bool IsSystemColor(TColor color) {
    return color < 0;
}
constexpr int GetRValue(TColor color) {
    return color & 0xFF;
}
constexpr int GetGValue(TColor color) {
    return (color >> 8) & 0xFF;
}
constexpr int GetBValue(TColor color) {
    return (color >> 16) & 0xFF;
}

// The RGB value of a colour: system colours are looked up in the application palette
// (black when the index is unknown); other values keep their low 24 bits.
TColor ColorToRGB(TColor color);
QColor ColorToQColor(TColor color);
QRgb ColorToQRgb(TColor color);
TColor QColorToColor(const QColor& color);
TColor QRgbToColor(QRgb rgb);
