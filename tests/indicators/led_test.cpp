// The LED: glyph pixels, palette recolouring, layout of glyph and caption, repaint
// and change notification rules, see-through mode and the module's cursor.
#include "VrLedGlyphs.h"
#include "VrLeds.h"
#include "indicator_test_util.h"
#include "nrcomponent.h"
#include "testenv.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

// The glyph cells as they must look, one string per row: unlit cell, then lit cell.
struct TExpectedGlyph {
    TVrLedType type;
    std::vector<std::string> unlit;
    std::vector<std::string> lit;
};

const TExpectedGlyph kRound{ltRounded,
                            {".........", ".........", "...ssD...", "..sDDDD..", "..DDDDD..", "..DDDDD..",
                             "...DDD...", ".........", "........."},
                            {".........", ".........", "...ssL...", "..sLLLL..", "..LLLLL..", "..LLLLL..",
                             "...LLL...", ".........", "........."}};
const TExpectedGlyph kRect{ltRectangle,
                           {"..........", ".gggggggg.", ".gDDDDDDD.", ".DDDDDDDD.", ".........."},
                           {"..........", ".ssssssss.", ".sLLLLLLL.", ".LLLLLLLL.", ".........."}};
const TExpectedGlyph kBig{ltLargeRect,
                          {"WWWWWWWWWWWWWWWWW", "W...............W", "W.DDDDDDDDDDDDD.W", "W.DDDDDDDDDDDDD.W",
                           "W.DDDDDDDDDDDDD.W", "W...............W", "WWWWWWWWWWWWWWWWW"},
                          {"WWWWWWWWWWWWWWWWW", "W...............W", "W.LLLLLLLLLLLLL.W", "W.LLLLLLLLLLLLL.W",
                           "W.LLLLLLLLLLLLL.W", "W...............W", "WWWWWWWWWWWWWWWWW"}};

QRgb LetterColor(char letter, QRgb low, QRgb high, QRgb background) {
    switch (letter) {
    case 'D':
        return low;
    case 'L':
        return high;
    case 'W':
        return qRgb(255, 255, 255);
    case 'g':
        return qRgb(128, 128, 128);
    case 's':
        return qRgb(192, 192, 192);
    default:
        return background;
    }
}

// Compares the picture's pixels at origin with a cell map; returns the mismatches.
std::vector<std::string> CompareCell(const QImage& picture, QPoint origin,
                                     const std::vector<std::string>& rows, QRgb low, QRgb high,
                                     QRgb background) {
    std::vector<std::string> errors;
    for (int y = 0; y < static_cast<int>(rows.size()); ++y)
        for (int x = 0; x < static_cast<int>(rows[y].size()); ++x) {
            const QRgb want = LetterColor(rows[y][x], low, high, background);
            const QRgb got = picture.pixel(origin.x() + x, origin.y() + y) & RGB_MASK;
            if ((want & RGB_MASK) != got)
                errors.push_back("(" + std::to_string(x) + "," + std::to_string(y) + ") want " + Rgb(want) +
                                 " got " + Rgb(got));
        }
    return errors;
}

// Counts the paints and glyph reloads of an LED.
class TCountingLed : public TVrLed {
public:
    using TVrLed::TVrLed;
    int paints = 0;
    int reloads = 0;

protected:
    void Paint() override {
        ++paints;
        TVrLed::Paint();
    }
    void ReloadGlyph() override {
        ++reloads;
        TVrLed::ReloadGlyph();
    }
};

QFont CaptionFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    return font;
}

// The columns, left to right, that hold a pixel other than background within rows.
std::pair<int, int> InkColumns(const QImage& picture, QRect area, QRgb background) {
    int left = -1;
    int right = -1;
    for (int x = area.left(); x <= area.right(); ++x)
        for (int y = area.top(); y <= area.bottom(); ++y)
            if ((picture.pixel(x, y) & RGB_MASK) != (background & RGB_MASK)) {
                if (left < 0) left = x;
                right = x;
                break;
            }
    return {left, right};
}

} // namespace

// ---------------------------------------------------------------------------------------
// Glyphs and recolouring

TEST(VrLed, NewLedIsBlackSquareWithUnlitRoundCellAtEightEight) {
    TVrLed led;
    EXPECT_EQ(led.size(), QSize(25, 25));
    EXPECT_EQ(led.Color(), clBlack);
    EXPECT_EQ(led.FontColor(), clWhite);
    EXPECT_FALSE(led.Active());
    EXPECT_EQ(led.LedType(), ltRounded);
    EXPECT_EQ(led.Spacing(), 5);
    EXPECT_EQ(led.Margin(), -1);
    EXPECT_EQ(led.Layout(), ImageLeft);
    EXPECT_EQ(led.Palette()->Low(), clMaroon);
    EXPECT_EQ(led.Palette()->High(), clRed);
    EXPECT_EQ(led.Version(), QStringLiteral("1.4.5"));

    const QRgb maroon = qRgb(128, 0, 0);
    const QRgb red = qRgb(255, 0, 0);
    const QRgb black = qRgb(0, 0, 0);
    QImage picture = GrabRgb(&led);
    EXPECT_EQ(led.ImageRect(), QRect(8, 8, 9, 9));
    auto errors = CompareCell(picture, {8, 8}, kRound.unlit, maroon, red, black);
    EXPECT_TRUE(errors.empty()) << errors.front();
    // Nothing but the cell is drawn on the black square.
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 25; ++x)
            if (!QRect(8, 8, 9, 9).contains(x, y)) {
                ASSERT_EQ(picture.pixel(x, y) & RGB_MASK, black & RGB_MASK) << x << "," << y;
            }

    led.SetActive(true);
    picture = GrabRgb(&led);
    errors = CompareCell(picture, {8, 8}, kRound.lit, maroon, red, black);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST(VrLed, BuiltInGlyphsMatchTheirPixelMapsAndRecolourBothCells) {
    for (const TExpectedGlyph* glyph : {&kRound, &kRect, &kBig}) {
        SCOPED_TRACE(static_cast<int>(glyph->type));
        TVrLed led;
        led.SetLedType(glyph->type);
        const int cellWidth = static_cast<int>(glyph->unlit[0].size());
        const int cellHeight = static_cast<int>(glyph->unlit.size());
        ASSERT_EQ(led.GlyphBitmap().size(), QSize(2 * cellWidth, cellHeight));

        auto errors =
            CompareCell(led.GlyphBitmap(), {0, 0}, glyph->unlit, qRgb(128, 0, 0), qRgb(255, 0, 0), 0);
        EXPECT_TRUE(errors.empty()) << "unlit " << errors.front();
        errors =
            CompareCell(led.GlyphBitmap(), {cellWidth, 0}, glyph->lit, qRgb(128, 0, 0), qRgb(255, 0, 0), 0);
        EXPECT_TRUE(errors.empty()) << "lit " << errors.front();

        led.SetColors(clGreen, clLime);
        errors = CompareCell(led.GlyphBitmap(), {0, 0}, glyph->unlit, qRgb(0, 128, 0), qRgb(0, 255, 0), 0);
        EXPECT_TRUE(errors.empty()) << "unlit green " << errors.front();
        errors =
            CompareCell(led.GlyphBitmap(), {cellWidth, 0}, glyph->lit, qRgb(0, 128, 0), qRgb(0, 255, 0), 0);
        EXPECT_TRUE(errors.empty()) << "lit lime " << errors.front();
    }
}

TEST(VrPalette, BothMasksComeFromTheUntouchedBitmap) {
    // Low equal to the light colour must not be repainted High, and High equal to the
    // dark colour must not catch the pixels just painted Low.
    QImage bitmap(4, 1, QImage::Format_RGB32);
    bitmap.setPixel(0, 0, qRgb(128, 0, 0));
    bitmap.setPixel(1, 0, qRgb(255, 0, 0));
    bitmap.setPixel(2, 0, qRgb(255, 255, 255));
    bitmap.setPixel(3, 0, qRgb(129, 0, 0));

    TVrPalette palette;
    EXPECT_EQ(palette.Low(), clGreen);
    EXPECT_EQ(palette.High(), clLime);
    palette.SetLow(clRed);
    palette.SetHigh(clBlue);
    QImage first = bitmap.copy();
    palette.ToBMP(first, clMaroon, clRed);
    EXPECT_EQ(Rgb(first.pixel(0, 0)), Rgb(qRgb(255, 0, 0)));
    EXPECT_EQ(Rgb(first.pixel(1, 0)), Rgb(qRgb(0, 0, 255)));
    EXPECT_EQ(Rgb(first.pixel(2, 0)), Rgb(qRgb(255, 255, 255)));
    EXPECT_EQ(Rgb(first.pixel(3, 0)), Rgb(qRgb(129, 0, 0))) << "only exact matches are recoloured";

    palette.SetLow(clNavy);
    palette.SetHigh(clMaroon);
    QImage second = bitmap.copy();
    palette.ToBMP(second, clMaroon, clRed);
    EXPECT_EQ(Rgb(second.pixel(0, 0)), Rgb(qRgb(0, 0, 128)));
    EXPECT_EQ(Rgb(second.pixel(1, 0)), Rgb(qRgb(128, 0, 0)));
}

TEST(VrLed, PaletteEqualToLitColourKeepsTheCellsApart) {
    TVrLed led;
    led.SetColors(clRed, clBlue);
    const QImage& glyph = led.GlyphBitmap();
    // Body pixel of the unlit cell and of the lit cell of "LI_RND".
    EXPECT_EQ(Rgb(glyph.pixel(4, 4)), Rgb(qRgb(255, 0, 0)));
    EXPECT_EQ(Rgb(glyph.pixel(9 + 4, 4)), Rgb(qRgb(0, 0, 255)));
}

TEST(VrPalette, ChangeNotificationAndAssign) {
    TVrPalette palette;
    int changes = 0;
    palette.OnChange = [&](QObject* sender) {
        EXPECT_EQ(sender, &palette);
        ++changes;
    };
    palette.SetLow(clGreen);
    EXPECT_EQ(changes, 0) << "an unchanged colour is no change";
    palette.SetLow(clNavy);
    EXPECT_EQ(changes, 1);

    TVrPalette same;
    same.SetLow(clNavy);
    same.SetHigh(clLime);
    palette.Assign(&same);
    EXPECT_EQ(changes, 2) << "assigning equal colours still notifies exactly once";

    TVrPalette other;
    other.SetLow(clRed);
    other.SetHigh(clYellow);
    palette.Assign(&other);
    EXPECT_EQ(changes, 3) << "two colours changed, one notification";
    EXPECT_EQ(palette.Low(), clRed);
    EXPECT_EQ(palette.High(), clYellow);

    palette.BeginUpdate();
    palette.BeginUpdate();
    palette.SetLow(clBlue);
    palette.EndUpdate();
    EXPECT_EQ(changes, 3) << "no notification while an update is open";
    palette.EndUpdate();
    EXPECT_EQ(changes, 4);
    palette.EndUpdate();
    EXPECT_EQ(palette.UpdateCount(), 0) << "an unmatched EndUpdate must not go below zero";

    QObject stranger;
    EXPECT_THROW(palette.Assign(&stranger), ENrException);
    EXPECT_THROW(palette.Assign(nullptr), ENrException);
    EXPECT_EQ(palette.Low(), clBlue);

    EXPECT_EQ(palette.GetColors(-3), clBlue);
    EXPECT_EQ(palette.GetColors(0), clBlue);
    EXPECT_EQ(palette.GetColors(1), clYellow);
    EXPECT_EQ(palette.GetColors(7), clYellow);
}

TEST(VrPalette, SystemColoursResolveWhenRecolouring) {
    TVrPalette palette;
    palette.SetLow(clBtnFace);
    palette.SetHigh(clHighlight);
    QImage bitmap(2, 1, QImage::Format_RGB32);
    bitmap.setPixel(0, 0, qRgb(128, 0, 0));
    bitmap.setPixel(1, 0, qRgb(255, 0, 0));
    palette.ToBMP(bitmap, clMaroon, clRed);
    EXPECT_EQ(Rgb(bitmap.pixel(0, 0)), Rgb(QGuiApplication::palette().color(QPalette::Button).rgb()));
    EXPECT_EQ(Rgb(bitmap.pixel(1, 0)), Rgb(QGuiApplication::palette().color(QPalette::Highlight).rgb()));
}

// ---------------------------------------------------------------------------------------
// The channel lamp of the main window

TEST(VrLed, ChannelLampCentresGlyphAndCaptionAsAGroup) {
    TVrLed led;
    led.SetBounds(0, 0, 61, 15);
    led.SetLedType(ltLargeRect);
    led.SetCaption(QStringLiteral("On"));
    led.setFont(CaptionFont());
    led.SetColors(clGreen, clLime);

    const int textWidth = QFontMetrics(CaptionFont()).horizontalAdvance(QStringLiteral("On"));
    const int glyphX = (61 - (17 + 5 + textWidth) + 1) / 2;
    const int textX = glyphX + 17 + 5;
    QImage picture = GrabRgb(&led);
    EXPECT_EQ(led.ImageRect(), QRect(glyphX, 4, 17, 7));
    EXPECT_EQ(led.TextBounds().left(), textX);

    const QRgb green = qRgb(0, 128, 0);
    const QRgb lime = qRgb(0, 255, 0);
    const QRgb black = qRgb(0, 0, 0);
    auto errors = CompareCell(picture, {glyphX, 4}, kBig.unlit, green, lime, black);
    EXPECT_TRUE(errors.empty()) << errors.front();

    // The caption's ink starts just after the 5-pixel gap and stays within its box.
    const auto [inkLeft, inkRight] = InkColumns(picture, QRect(glyphX + 17, 0, 61 - glyphX - 17, 15), black);
    ASSERT_GE(inkLeft, 0) << "no caption drawn";
    EXPECT_GE(inkLeft, textX);
    EXPECT_LE(inkLeft, textX + 2);
    EXPECT_LE(inkRight, textX + textWidth);
    // Free space on both sides differs by at most the rounding pixel.
    EXPECT_LE(std::abs(glyphX - (61 - (textX + textWidth))), 1);
    // White text on black (anti-aliased: the strokes' cores come close to white).
    bool white = false;
    for (int y = 0; y < 15; ++y)
        for (int x = inkLeft; x <= inkRight; ++x) {
            const QRgb p = picture.pixel(x, y);
            white = white || (qRed(p) >= 200 && qGreen(p) >= 200 && qBlue(p) >= 200);
        }
    EXPECT_TRUE(white);

    led.SetActive(true);
    picture = GrabRgb(&led);
    errors = CompareCell(picture, {glyphX, 4}, kBig.lit, green, lime, black);
    EXPECT_TRUE(errors.empty()) << errors.front();
}

TEST(VrLed, BlackInsideTheFrameShowsTheControlColour) {
    TVrLed led;
    led.SetBounds(0, 0, 61, 15);
    led.SetLedType(ltLargeRect);
    led.SetColor(clNavy);
    const QImage picture = GrabRgb(&led);
    const QRgb navy = qRgb(0, 0, 128);
    const QPoint at = led.ImageRect().topLeft();
    auto errors = CompareCell(picture, at, kBig.unlit, qRgb(128, 0, 0), qRgb(255, 0, 0), navy);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(Rgb(picture.pixel(0, 0)), Rgb(navy));
}

// ---------------------------------------------------------------------------------------
// Layout arithmetic

struct TLayoutCase {
    const char* name;
    QSize client;
    QSize text;
    TVrImageTextLayout layout;
    int margin;
    int spacing;
    QSize glyph;
    QRect wantGlyph;
    QRect wantText;
};

TEST(VrLayout, GlyphAndTextPositionsFollowTheIntegerFormulas) {
    const TLayoutCase cases[] = {
        {"left, defaults", {61, 15}, {13, 13}, ImageLeft, -1, 5, {17, 7}, {13, 4, 17, 7}, {35, 1, 13, 13}},
        {"right, defaults", {61, 15}, {13, 13}, ImageRight, -1, 5, {17, 7}, {31, 4, 17, 7}, {13, 1, 13, 13}},
        {"top, both automatic",
         {40, 60},
         {20, 10},
         ImageTop,
         -1,
         -1,
         {9, 9},
         {16, 13, 9, 9},
         {10, 35, 20, 10}},
        {"bottom, automatic spacing",
         {40, 60},
         {20, 10},
         ImageBottom,
         2,
         -1,
         {9, 9},
         {16, 49, 9, 9},
         {10, 20, 20, 10}},
        {"left, fixed margin and spacing",
         {50, 20},
         {10, 8},
         ImageLeft,
         3,
         4,
         {9, 9},
         {3, 6, 9, 9},
         {16, 6, 10, 8}},
        {"empty caption centres the glyph",
         {25, 25},
         {0, 0},
         ImageLeft,
         -1,
         5,
         {9, 9},
         {8, 8, 9, 9},
         {17, 13, 0, 0}},
        {"empty glyph means no spacing",
         {30, 10},
         {10, 10},
         ImageLeft,
         -1,
         5,
         {0, 0},
         {10, 5, 0, 0},
         {10, 0, 10, 10}},
        // Negative free space: divisions truncate toward zero, never round down.
        {"negative, automatic margin",
         {10, 10},
         {20, 10},
         ImageLeft,
         -1,
         5,
         {17, 7},
         {-15, 2, 17, 7},
         {7, 0, 20, 10}},
        {"negative, both automatic",
         {9, 3},
         {20, 10},
         ImageLeft,
         -1,
         -1,
         {17, 9},
         {-9, -2, 17, 9},
         {-1, -3, 20, 10}},
        {"negative, right", {10, 10}, {20, 10}, ImageRight, -1, 5, {17, 7}, {8, 2, 17, 7}, {-17, 0, 20, 10}},
        {"negative, top", {10, 10}, {20, 30}, ImageTop, -1, 3, {9, 9}, {1, -15, 9, 9}, {-4, -3, 20, 30}},
    };
    for (const TLayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        QRect glyph;
        QRect text;
        LayoutGlyphAndText(QRect(QPoint(0, 0), c.client), c.text, c.layout, c.margin, c.spacing, c.glyph,
                           glyph, text);
        EXPECT_EQ(glyph, c.wantGlyph);
        EXPECT_EQ(text, c.wantText);
    }
}

TEST(VrLayout, CaptionMeasureCountsLinesAndDropsMnemonicMarks) {
    const QFont font = CaptionFont();
    const QFontMetrics metrics(font);
    EXPECT_EQ(MeasureCaption(font, QString()), QSize(0, 0));
    EXPECT_EQ(MeasureCaption(font, QStringLiteral("On")),
              QSize(metrics.horizontalAdvance("On"), metrics.height()));
    EXPECT_EQ(MeasureCaption(font, QStringLiteral("&On")), MeasureCaption(font, QStringLiteral("On")));
    EXPECT_EQ(MeasureCaption(font, QStringLiteral("A&&B")).width(), metrics.horizontalAdvance("A&B"));
    const QSize twoLines = MeasureCaption(font, QStringLiteral("Off\nOn line"));
    EXPECT_EQ(twoLines, QSize(metrics.horizontalAdvance("On line"), 2 * metrics.height()));
    EXPECT_EQ(MeasureCaption(font, QStringLiteral("Off\r\nOn line")), twoLines);
}

TEST(VrLed, MultiLineCaptionIsDrawnOnOneLineCentredInItsBox) {
    TVrLed led;
    led.SetBounds(0, 0, 120, 60);
    led.setFont(CaptionFont());
    led.SetLayout(ImageTop);
    led.SetCaption(QStringLiteral("AB\nCD"));
    const QImage picture = GrabRgb(&led);
    const QRect box = led.TextBounds();
    const int lineHeight = QFontMetrics(CaptionFont()).height();
    ASSERT_EQ(box.height(), 2 * lineHeight);
    int top = -1;
    int bottom = -1;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 120; ++x)
            if (!led.ImageRect().contains(x, y) && (picture.pixel(x, y) & RGB_MASK) != 0) {
                if (top < 0) top = y;
                bottom = y;
            }
    ASSERT_GE(top, 0);
    EXPECT_LT(bottom - top, lineHeight) << "ink spans more than one line";
    EXPECT_GE(top, box.top());
    EXPECT_LE(bottom, box.bottom());
    EXPECT_LE(std::abs((top + bottom) / 2 - box.center().y()), lineHeight / 2);
}

TEST(VrLed, MnemonicCaptionDrawsUnderlineWithoutTheMark) {
    auto draw = [](const QString& caption) {
        TVrLed led;
        led.SetBounds(0, 0, 80, 20);
        led.setFont(CaptionFont());
        led.SetCaption(caption);
        return std::pair{GrabRgb(&led), led.TextBounds()};
    };
    const auto [plain, plainBox] = draw(QStringLiteral("On"));
    const auto [marked, markedBox] = draw(QStringLiteral("&On"));
    EXPECT_EQ(plainBox, markedBox) << "the mark takes no room";
    int extra = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 80; ++x)
            if ((plain.pixel(x, y) & RGB_MASK) == 0 && (marked.pixel(x, y) & RGB_MASK) != 0) ++extra;
    EXPECT_GT(extra, 2) << "no underline under the marked character";
}

// ---------------------------------------------------------------------------------------
// Repaints and change notification

TEST(VrLed, ActiveRepaintsThenNotifiesOnlyWhenItChanges) {
    auto window = MakeShownWindow();
    auto* led = new TCountingLed(window.get());
    led->show();
    ASSERT_TRUE(WaitUntil([&] { return led->paints > 0; }));
    ProcessEventsFor(std::chrono::milliseconds(50));
    led->paints = 0;

    int changes = 0;
    int paintsSeenByHandler = -1;
    led->OnChange = [&](QObject* sender) {
        EXPECT_EQ(sender, led);
        ++changes;
        paintsSeenByHandler = led->paints;
    };
    led->SetActive(false);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(led->paints, 0);

    led->SetActive(true);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(paintsSeenByHandler, 1) << "the repaint comes before OnChange";
    led->SetActive(true);
    EXPECT_EQ(changes, 1);

    // Other properties repaint but never raise OnChange.
    led->SetLedType(ltRectangle);
    led->SetLayout(ImageRight);
    led->SetMargin(2);
    led->SetSpacing(3);
    led->SetCaption(QStringLiteral("x"));
    led->SetColors(clNavy, clBlue);
    led->SetTransparent(true);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(led->paints, 8);
}

TEST(VrLed, UpdatesAndLoadingHoldRepaintsBack) {
    auto window = MakeShownWindow();
    auto* led = new TCountingLed(window.get());
    led->show();
    ASSERT_TRUE(WaitUntil([&] { return led->paints > 0; }));
    ProcessEventsFor(std::chrono::milliseconds(50));
    led->paints = 0;

    led->BeginUpdate();
    led->BeginUpdate();
    led->SetActive(true);
    led->SetLedType(ltLargeRect);
    led->SetColors(clGreen, clLime);
    EXPECT_EQ(led->paints, 0);
    led->EndUpdate();
    EXPECT_EQ(led->paints, 0) << "still one update open";
    led->EndUpdate();
    EXPECT_EQ(led->paints, 1);
    led->EndUpdate();
    EXPECT_EQ(led->UpdateCount(), 0) << "an unmatched EndUpdate must not block later repaints";
    led->paints = 0;
    led->SetActive(false);
    EXPECT_EQ(led->paints, 1);

    led->BeginLoading();
    led->paints = 0;
    const int reloads = led->reloads;
    led->SetLedType(ltRounded);
    EXPECT_EQ(led->paints, 0);
    EXPECT_EQ(led->reloads, reloads + 1) << "glyph reloads are not held back while loading";
    led->Loaded();
    EXPECT_EQ(led->paints, 1);
}

TEST(VrLed, AssigningAnEqualPaletteReloadsAndRepaintsOnce) {
    auto window = MakeShownWindow();
    auto* led = new TCountingLed(window.get());
    led->show();
    ASSERT_TRUE(WaitUntil([&] { return led->paints > 0; }));
    ProcessEventsFor(std::chrono::milliseconds(50));
    led->paints = 0;
    led->reloads = 0;

    TVrPalette same;
    same.SetLow(clMaroon);
    same.SetHigh(clRed);
    led->SetPalette(&same);
    EXPECT_EQ(led->reloads, 1);
    EXPECT_EQ(led->paints, 1);

    // Painting never recolours: a paint only copies a cell.
    led->paints = 0;
    led->reloads = 0;
    for (int i = 0; i < 5; ++i)
        led->repaint();
    EXPECT_EQ(led->paints, 5);
    EXPECT_EQ(led->reloads, 0);
}

// ---------------------------------------------------------------------------------------
// Custom glyphs and see-through mode

TEST(VrLed, CustomGlyphIgnoresPaletteAndLeavesOutTheControlColour) {
    auto window = MakeShownWindow(100, 60, QColor(255, 255, 0));
    auto* led = new TVrLed(window.get());
    led->SetBounds(10, 10, 20, 20);
    led->SetTransparent(true);
    // Two 2 x 1 cells: unlit black|blue, lit maroon|blue.
    QImage glyphs(4, 1, QImage::Format_RGB32);
    glyphs.setPixel(0, 0, qRgb(0, 0, 0));
    glyphs.setPixel(1, 0, qRgb(0, 0, 255));
    glyphs.setPixel(2, 0, qRgb(128, 0, 0));
    glyphs.setPixel(3, 0, qRgb(0, 0, 255));
    led->SetGlyphs(glyphs);
    led->SetLedType(ltCustom);
    led->SetColors(clLime, clAqua);
    EXPECT_EQ(led->GlyphBitmap(), glyphs.convertToFormat(QImage::Format_RGB32))
        << "the palette plays no part";
    led->SetColor(clBlue);
    led->show();

    QImage picture = GrabRgb(window.get());
    ASSERT_EQ(led->ImageRect(), QRect(9, 10, 2, 1));
    const QPoint at = led->ImageRect().topLeft() + QPoint(10, 10);
    EXPECT_EQ(Rgb(picture.pixel(at)), Rgb(qRgb(0, 0, 0)));
    EXPECT_EQ(Rgb(picture.pixel(at + QPoint(1, 0))), Rgb(qRgb(255, 255, 0))) << "blue is the key colour";

    led->SetColor(clBlack);
    picture = GrabRgb(window.get());
    EXPECT_EQ(Rgb(picture.pixel(at)), Rgb(qRgb(255, 255, 0))) << "black is the key colour now";
    EXPECT_EQ(Rgb(picture.pixel(at + QPoint(1, 0))), Rgb(qRgb(0, 0, 255)));

    led->SetActive(true);
    picture = GrabRgb(window.get());
    EXPECT_EQ(Rgb(picture.pixel(at)), Rgb(qRgb(128, 0, 0)));
}

TEST(VrLed, SeeThroughShowsWhatLiesBeneathAndKeepsItForOwnRepaints) {
    const QColor yellow(255, 255, 0);
    auto window = MakeShownWindow(100, 60, yellow);
    auto* led = new TCountingLed(window.get());
    led->move(20, 10);
    led->SetTransparent(true);
    led->show();
    ASSERT_TRUE(WaitUntil([&] { return led->paints > 0; }));

    QImage picture = GrabRgb(window.get());
    auto errors =
        CompareCell(picture, QPoint(28, 18), kRound.unlit, qRgb(128, 0, 0), qRgb(255, 0, 0), yellow.rgb());
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(Rgb(picture.pixel(20, 10)), Rgb(yellow.rgb()));
    EXPECT_FALSE(led->testAttribute(Qt::WA_OpaquePaintEvent))
        << "after a see-through paint the parent draws again";
    EXPECT_TRUE(led->OverlayStale());

    // A property change repaints the control alone, over the kept snapshot.
    led->paints = 0;
    led->SetActive(true);
    EXPECT_EQ(led->paints, 1);
    EXPECT_EQ(Rgb(led->BitmapImage().pixel(0, 0)), Rgb(yellow.rgb()));
    EXPECT_EQ(Rgb(led->BitmapImage().pixel(8 + 4, 8 + 4)), Rgb(qRgb(255, 0, 0)));
    picture = GrabRgb(window.get());
    errors = CompareCell(picture, QPoint(28, 18), kRound.lit, qRgb(128, 0, 0), qRgb(255, 0, 0), yellow.rgb());
    EXPECT_TRUE(errors.empty()) << errors.front();

    // A sibling beneath the LED shows through too.
    auto* below = new QWidget(window.get());
    below->setGeometry(0, 0, 30, 60);
    below->setAutoFillBackground(true);
    QPalette palette = below->palette();
    palette.setColor(QPalette::Window, Qt::cyan);
    below->setPalette(palette);
    below->show();
    below->lower();
    picture = GrabRgb(window.get());
    EXPECT_EQ(Rgb(picture.pixel(21, 11)), Rgb(QColor(Qt::cyan).rgb()));
    EXPECT_EQ(Rgb(picture.pixel(40, 11)), Rgb(yellow.rgb()));

    led->SetTransparent(false);
    EXPECT_TRUE(led->testAttribute(Qt::WA_OpaquePaintEvent));
    picture = GrabRgb(window.get());
    EXPECT_EQ(Rgb(picture.pixel(21, 11)), Rgb(qRgb(0, 0, 0)));
}

// ---------------------------------------------------------------------------------------
// Mouse and the module

TEST(VrLed, DoubleClickArrivesAsASecondPress) {
    TVrLed led;
    int downs = 0;
    int doubles = 0;
    int clicks = 0;
    led.OnMouseDown = [&](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++downs; };
    led.OnDblClick = [&](QObject*) { ++doubles; };
    led.OnClick = [&](QObject*) { ++clicks; };
    const QPointF at(5, 5);
    auto send = [&](QEvent::Type type) {
        QMouseEvent event(type, at, led.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&led, &event);
    };
    send(QEvent::MouseButtonPress);
    send(QEvent::MouseButtonRelease);
    send(QEvent::MouseButtonDblClick);
    send(QEvent::MouseButtonRelease);
    EXPECT_EQ(downs, 2);
    EXPECT_EQ(doubles, 0);
    EXPECT_EQ(clicks, 2);
}

TEST(VrLedsModule, RegistersTheHandCursorAsNumber99) {
    EXPECT_FALSE(HasScreenCursor(crVrHandPoint));
    {
        TLibraryModules modules{VrLedsModule};
        ASSERT_TRUE(HasScreenCursor(99));
        EXPECT_EQ(ScreenCursor(99).shape(), Qt::PointingHandCursor);
    }
    EXPECT_FALSE(HasScreenCursor(99));
    EXPECT_EQ(ScreenCursor(99).shape(), Qt::ArrowCursor);
    EXPECT_THROW(LoadCursor(QStringLiteral("NOSUCHCURSOR")), ENrException);
    EXPECT_THROW(LoadBitmap(QStringLiteral("LI_NONE")), ENrException);
}
