// The help window and the button pictures.
#include "glyphbutton.h"
#include "helpform.h"
#include "pictures.h"
#include "testenv.h"

#include <QBitmap>
#include <QImage>
#include <QTest>
#include <QTextBlock>
#include <gtest/gtest.h>

namespace {

QStringList PaneLines(const QPlainTextEdit* pane) {
    QStringList lines;
    for (QTextBlock b = pane->document()->firstBlock(); b.isValid(); b = b.next())
        lines.append(b.text());
    return lines;
}

} // namespace

TEST(HelpForm, ShowsItsNineteenLinesInAFixedStayOnTopWindow) {
    TForm2 help;
    EXPECT_FALSE(help.isVisible());
    EXPECT_EQ(help.windowTitle(), QStringLiteral("Help"));
    EXPECT_EQ(help.size(), QSize(520, 429));
    EXPECT_EQ(help.minimumSize(), help.maximumSize());
    EXPECT_TRUE(help.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(help.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(help.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    const QStringList lines = PaneLines(help.Memo1);
    ASSERT_EQ(lines.size(), 19);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Il faut d'abord")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("sur le "))); // the trailing blank is part of the line
    EXPECT_EQ(
        lines[1],
        QStringLiteral("bouton \"Select\" approprié, puis en choisissant le bon port RS-232 dans la liste."));
    EXPECT_EQ(lines[7], QStringLiteral("pour le GPS et 38400 pour l'AIS."));
    for (int empty : {2, 5, 8, 10, 13, 14, 15, 18})
        EXPECT_TRUE(lines[empty].isEmpty()) << "line " << empty + 1;
    EXPECT_EQ(lines[17], QStringLiteral("erreur et nécessite de fermer et relancer l'application)."));

    EXPECT_EQ(help.Memo1->geometry(), QRect(0, 0, 520, 377));
    EXPECT_EQ(help.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(help.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(help.Memo1->isReadOnly());
    EXPECT_EQ(help.BitBtn1->geometry(), QRect(232, 393, 75, 23));
    EXPECT_EQ(help.BitBtn1->text(), QStringLiteral("OK"));
}

TEST(HelpForm, OkHidesAndTheTextSurvivesTheNextShowing) {
    TForm2 help;
    help.ShowHelp();
    ASSERT_TRUE(help.isVisible());
    help.ShowHelp(); // already shown: stays shown
    EXPECT_TRUE(help.isVisible());
    help.Memo1->appendPlainText(QStringLiteral("note of the user"));
    QTest::mouseClick(help.BitBtn1, Qt::LeftButton);
    EXPECT_FALSE(help.isVisible());
    help.ShowHelp();
    EXPECT_TRUE(help.isVisible());
    EXPECT_EQ(PaneLines(help.Memo1).last(), QStringLiteral("note of the user"));
    help.hide();
}

TEST(HelpForm, GreyPixelsAreLeftOutOfTheWindowShape) {
    TForm2 help;
    help.ShowHelp();
    EXPECT_TRUE(help.mask().isEmpty()); // nothing grey: the whole window
    QPalette palette = help.Memo1->palette();
    palette.setColor(QPalette::Base, TForm2::TransparentColor());
    help.Memo1->setPalette(palette);
    help.ApplyTransparentColor();
    const QRegion shape = help.mask();
    ASSERT_FALSE(shape.isEmpty());
    EXPECT_FALSE(shape.contains(QPoint(400, 300))); // an empty spot of the grey pane
    EXPECT_TRUE(shape.contains(QPoint(10, 420)));   // the window's own background
    help.hide();
}

TEST(Pictures, EachPictureShowsItsColoursAndHasAGreyedTwin) {
    auto countPixels = [](const QImage& image, auto&& pred) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += pred(image.pixel(x, y)) ? 1 : 0;
        return n;
    };
    auto reddish = [](QRgb c) { return qAlpha(c) > 128 && qRed(c) > 150 && qGreen(c) < 80 && qBlue(c) < 80; };
    auto greenish = [](QRgb c) {
        return qAlpha(c) > 128 && qGreen(c) > 100 && qRed(c) < 80 && qBlue(c) < 80;
    };
    auto coloured = [](QRgb c) { return qAlpha(c) > 0 && (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c)); };

    const struct {
        TPicture picture;
        bool red;
        bool green;
    } expectations[] = {
        {TPicture::ptHelpBook, true, false},    {TPicture::ptGears, false, false},
        {TPicture::ptDoubleCheck, false, true}, {TPicture::ptCheck, false, true},
        {TPicture::ptCross, true, false},       {TPicture::ptSaveToDisk, true, false},
        {TPicture::ptDoor, true, false},        {TPicture::ptCirclingArrows, false, true},
    };
    QList<QImage> seen;
    for (const auto& e : expectations) {
        const QImage image = DrawPicture(e.picture).toImage();
        EXPECT_EQ(image.size(), QSize(kPictureSize, kPictureSize));
        EXPECT_GT(countPixels(image, [](QRgb c) { return qAlpha(c) > 0; }), 10);
        EXPECT_EQ(countPixels(image, reddish) > 3, e.red) << int(e.picture);
        EXPECT_EQ(countPixels(image, greenish) > 3, e.green) << int(e.picture);
        for (const QImage& other : seen)
            EXPECT_NE(image, other) << int(e.picture);
        seen.append(image);

        const QImage greyed = GreyedPicture(DrawPicture(e.picture)).toImage();
        EXPECT_EQ(countPixels(greyed, coloured), 0) << int(e.picture);
        EXPECT_EQ(countPixels(greyed, [](QRgb c) { return qAlpha(c) > 0; }),
                  countPixels(image, [](QRgb c) { return qAlpha(c) > 0; }));
    }
}

TEST(GlyphButton, DisabledButtonPaintsTheGreyedPicture) {
    QWidget host;
    host.resize(200, 60);
    auto* button = new TGlyphButton(PictureIcon(TPicture::ptCross), QStringLiteral("Close RS-GPS"), &host);
    button->setGeometry(10, 10, 107, 25);
    host.show();
    auto hasRed = [](const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                if (qRed(c) > 150 && qGreen(c) < 80 && qBlue(c) < 80) return true;
            }
        return false;
    };
    EXPECT_TRUE(hasRed(button->grab().toImage()));
    button->setEnabled(false);
    EXPECT_FALSE(hasRed(button->grab().toImage()));
}
