#include "VrLedGlyphs.h"

#include "nrcomponent.h"

#include <cstring>

namespace {

// One character per pixel, rows top to bottom; both cells side by side.
//   D maroon (unlit body)   L red (lit body)   . black (left out when drawn)
//   W white                 g grey             s silver
struct TGlyphMap {
    const char* name;
    int rowCount;
    const char* rows[9];
};

constexpr TGlyphMap kGlyphs[] = {
    {"LI_BIG",
     7,
     {
         "WWWWWWWWWWWWWWWWW"
         "WWWWWWWWWWWWWWWWW",
         "W...............W"
         "W...............W",
         "W.DDDDDDDDDDDDD.W"
         "W.LLLLLLLLLLLLL.W",
         "W.DDDDDDDDDDDDD.W"
         "W.LLLLLLLLLLLLL.W",
         "W.DDDDDDDDDDDDD.W"
         "W.LLLLLLLLLLLLL.W",
         "W...............W"
         "W...............W",
         "WWWWWWWWWWWWWWWWW"
         "WWWWWWWWWWWWWWWWW",
     }},
    {"LI_RECT",
     5,
     {
         ".........."
         "..........",
         ".gggggggg."
         ".ssssssss.",
         ".gDDDDDDD."
         ".sLLLLLLL.",
         ".DDDDDDDD."
         ".LLLLLLLL.",
         ".........."
         "..........",
     }},
    {"LI_RND",
     9,
     {
         "........."
         ".........",
         "........."
         ".........",
         "...ssD..."
         "...ssL...",
         "..sDDDD.."
         "..sLLLL..",
         "..DDDDD.."
         "..LLLLL..",
         "..DDDDD.."
         "..LLLLL..",
         "...DDD..."
         "...LLL...",
         "........."
         ".........",
         "........."
         ".........",
     }},
};

QRgb PixelOf(char letter) {
    switch (letter) {
    case 'D':
        return qRgb(128, 0, 0);
    case 'L':
        return qRgb(255, 0, 0);
    case 'W':
        return qRgb(255, 255, 255);
    case 'g':
        return qRgb(128, 128, 128);
    case 's':
        return qRgb(192, 192, 192);
    default:
        return qRgb(0, 0, 0);
    }
}

} // namespace

QImage LoadBitmap(const QString& ResourceName) {
    for (const TGlyphMap& glyph : kGlyphs) {
        if (ResourceName.compare(QLatin1String(glyph.name), Qt::CaseInsensitive) != 0) continue;
        const int width = static_cast<int>(std::strlen(glyph.rows[0]));
        QImage image(width, glyph.rowCount, QImage::Format_RGB32);
        for (int y = 0; y < glyph.rowCount; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(x, y, PixelOf(glyph.rows[y][x]));
        return image;
    }
    throw ENrException(QStringLiteral("Bitmap resource \"%1\" not found").arg(ResourceName));
}

QCursor LoadCursor(const QString& ResourceName) {
    if (ResourceName.compare(QLatin1String("VRCURSORHANDPOINT"), Qt::CaseInsensitive) == 0)
        return QCursor(Qt::PointingHandCursor);
    throw ENrException(QStringLiteral("Cursor resource \"%1\" not found").arg(ResourceName));
}
