#include "nrcolors.h"

#include <QGuiApplication>
#include <QPalette>
#include <iterator>

namespace {

struct TSystemColorRole {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The Qt palette entry that plays the part of each system colour, by index.
constexpr TSystemColorRole kSystemColorRoles[] = {
    {QPalette::Active, QPalette::Button},            // scroll bar
    {QPalette::Active, QPalette::Window},            // desktop background
    {QPalette::Active, QPalette::Highlight},         // active caption
    {QPalette::Inactive, QPalette::Highlight},       // inactive caption
    {QPalette::Active, QPalette::Window},            // menu
    {QPalette::Active, QPalette::Base},              // window
    {QPalette::Active, QPalette::Shadow},            // window frame
    {QPalette::Active, QPalette::WindowText},        // menu text
    {QPalette::Active, QPalette::Text},              // window text
    {QPalette::Active, QPalette::HighlightedText},   // caption text
    {QPalette::Active, QPalette::Window},            // active border
    {QPalette::Inactive, QPalette::Window},          // inactive border
    {QPalette::Active, QPalette::Dark},              // application workspace
    {QPalette::Active, QPalette::Highlight},         // highlight
    {QPalette::Active, QPalette::HighlightedText},   // highlighted text
    {QPalette::Active, QPalette::Button},            // button face
    {QPalette::Active, QPalette::Dark},              // button shadow
    {QPalette::Disabled, QPalette::Text},            // grey text
    {QPalette::Active, QPalette::ButtonText},        // button text
    {QPalette::Inactive, QPalette::HighlightedText}, // inactive caption text
    {QPalette::Active, QPalette::Light},             // button highlight
    {QPalette::Active, QPalette::Shadow},            // 3D dark shadow
    {QPalette::Active, QPalette::Midlight},          // 3D light
    {QPalette::Active, QPalette::ToolTipText},       // tooltip text
    {QPalette::Active, QPalette::ToolTipBase},       // tooltip background
};

} // namespace

TColor ColorToRGB(TColor color) {
    if (!IsSystemColor(color)) return color & 0xFFFFFF;
    const int index = color & 0xFF;
    if (index >= static_cast<int>(std::size(kSystemColorRoles))) return clBlack;
    const TSystemColorRole& entry = kSystemColorRoles[index];
    return QColorToColor(QGuiApplication::palette().color(entry.group, entry.role));
}

QColor ColorToQColor(TColor color) {
    const TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QRgb ColorToQRgb(TColor color) {
    const TColor rgb = ColorToRGB(color);
    return qRgb(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

TColor QColorToColor(const QColor& color) {
    return RGBToColor(color.red(), color.green(), color.blue());
}

TColor QRgbToColor(QRgb rgb) {
    return RGBToColor(qRed(rgb), qGreen(rgb), qBlue(rgb));
}
