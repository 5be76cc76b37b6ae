// The semaphore lamp: the rendered 3D scene, image lists, pulse timing, the shared
// blinker and BMP output.
#include "indicator_test_util.h"
#include "nrlamp3d.h"
#include "nrsemaphore.h"
#include "testenv.h"

#include <GL/gl.h>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

bool IsWhite(QRgb pixel) {
    return (pixel & RGB_MASK) == 0xFFFFFF;
}

// A lit, mostly blue (or red ...) pixel: the named channel clearly dominates.
bool Dominant(QRgb pixel, int channel) {
    const int values[3] = {qRed(pixel), qGreen(pixel), qBlue(pixel)};
    for (int c = 0; c < 3; ++c)
        if (c != channel && values[c] + 60 > values[channel]) return false;
    return values[channel] > 80;
}
constexpr int kRed = 0;
constexpr int kBlue = 2;

// An OpenGL function of the lamp's renderer, for OnDraw3D handlers.
template <class TFunction> TFunction* GL(const char* name) {
    auto* function = reinterpret_cast<TFunction*>(TnrSemaphore::GLProcAddress(name));
    if (!function) ADD_FAILURE() << "no OpenGL function " << name;
    return function;
}

#if BRISEMER_LAMP3D_MODULE
bool OSMesaMapped() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libOSMesa");
}
#endif

// An image list of two 8 x 8 pictures: magenta background (the bottom-left pixel) with
// a 4 x 4 square in the middle, green in the first and blue in the second.
TImageList* MakeImageList(QObject* owner) {
    auto* list = new TImageList(owner, 8, 8);
    for (QColor square : {QColor(Qt::green), QColor(Qt::blue)}) {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        for (int y = 2; y < 6; ++y)
            for (int x = 2; x < 6; ++x)
                image.setPixel(x, y, square.rgb());
        list->Add(image);
    }
    return list;
}

class SemaphoreTest : public testing::Test {
protected:
    TLibraryModules modules{nrsemaphoreModule};
};

} // namespace

// ---------------------------------------------------------------------------------------
// The rendered scene

TEST_F(SemaphoreTest, TheRendererIsLoadedByTheFirst3DImageOnly) {
#if BRISEMER_LAMP3D_MODULE
    // A program that shows no 3D lamp keeps OpenGL's renderer (and the LLVM it brings) out.
    EXPECT_FALSE(Lamp3DLoaded());
    EXPECT_FALSE(OSMesaMapped());
    TnrSemaphore lamp;
    EXPECT_TRUE(Lamp3DLoaded());
    EXPECT_TRUE(OSMesaMapped());
    EXPECT_TRUE(Dominant(lamp.CheckedImage().Image.pixel(8, 8), kBlue));
#else
    GTEST_SKIP() << "this build links the renderer in";
#endif
}

TEST_F(SemaphoreTest, NewSemaphoreShowsLitBlueSphereOnSeeThroughWhite) {
    TnrSemaphore lamp;
    EXPECT_EQ(lamp.size(), QSize(16, 16));
    EXPECT_TRUE(lamp.Checked());
    EXPECT_FALSE(lamp.Blink());
    EXPECT_FALSE(lamp.Pulse());
    EXPECT_EQ(lamp.BlinkInterval(), 100u);
    EXPECT_EQ(lamp.PulseDuration(), 1000u);
    EXPECT_EQ(lamp.Style3D(), nrs3DSphere);
    EXPECT_TRUE(lamp.Transparent());
    EXPECT_FALSE(lamp.Frame3D());
    EXPECT_EQ(lamp.Color3DCheck(), clBlue);
    EXPECT_EQ(lamp.Color3DUnCheck(), clRed);
    EXPECT_EQ(lamp.ImageChecked(), 0);
    EXPECT_EQ(lamp.ImageUnChecked(), 0);

    ASSERT_EQ(lamp.PaintedImage(), &lamp.CheckedImage());
    const QImage& image = lamp.CheckedImage().Image;
    ASSERT_EQ(image.size(), QSize(16, 16));
    EXPECT_TRUE(Dominant(image.pixel(8, 8), kBlue)) << Rgb(image.pixel(8, 8));
    for (QPoint corner : {QPoint(0, 0), QPoint(15, 0), QPoint(0, 15), QPoint(15, 15)})
        EXPECT_TRUE(IsWhite(image.pixel(corner))) << corner.x() << "," << corner.y();
    EXPECT_TRUE(lamp.CheckedImage().Transparent);
    EXPECT_EQ(lamp.CheckedImage().KeyColor() & RGB_MASK, 0xFFFFFFu);
    // The light stands up and to the left: the upper-left of the sphere is brighter.
    EXPECT_GT(qBlue(image.pixel(5, 5)), qBlue(image.pixel(11, 11)) + 20)
        << Rgb(image.pixel(5, 5)) << " vs " << Rgb(image.pixel(11, 11));

    // On screen the white is see-through.
    auto window = MakeShownWindow(40, 40, QColor(255, 255, 0));
    lamp.setParent(window.get());
    lamp.move(10, 10);
    lamp.show();
    const QImage screen = GrabRgb(window.get());
    EXPECT_EQ(Rgb(screen.pixel(10, 10)), Rgb(qRgb(255, 255, 0)));
    EXPECT_TRUE(Dominant(screen.pixel(18, 18), kBlue)) << Rgb(screen.pixel(18, 18));
    lamp.setParent(nullptr);
}

TEST_F(SemaphoreTest, UncheckedShowsRedSphereAndOpaqueModeKeepsWhite) {
    auto window = MakeShownWindow(40, 40, QColor(255, 255, 0));
    auto* lamp = new TnrSemaphore(window.get());
    lamp->move(10, 10);
    lamp->show();
    lamp->SetChecked(false);
    ASSERT_EQ(lamp->PaintedImage(), &lamp->UnCheckedImage());
    EXPECT_TRUE(Dominant(lamp->UnCheckedImage().Image.pixel(8, 8), kRed));
    QImage screen = GrabRgb(window.get());
    EXPECT_TRUE(Dominant(screen.pixel(18, 18), kRed)) << Rgb(screen.pixel(18, 18));

    lamp->SetTransparent(false);
    EXPECT_FALSE(lamp->UnCheckedImage().Transparent);
    screen = GrabRgb(window.get());
    EXPECT_TRUE(IsWhite(screen.pixel(10, 10))) << Rgb(screen.pixel(10, 10));
}

TEST_F(SemaphoreTest, SphereSizeFollowsTheProjectionAndAspect) {
    // A sphere of radius 8 seen from 32 units with a 30 degree field of view spans
    // asin(8/32) / 15 degrees... in tangents: tan(asin(0.25)) / tan(15 deg) = 0.9636 of
    // half the height, whatever the width.
    TnrSemaphore lamp;
    lamp.resize(200, 100);
    lamp.RebuildImages();
    const QImage& image = lamp.CheckedImage().Image;
    ASSERT_EQ(image.size(), QSize(200, 100));
    const double radius = std::tan(std::asin(0.25)) / std::tan(15.0 * M_PI / 180.0) * 50.0;
    EXPECT_NEAR(radius, 48.2, 0.1);
    // Centre at (100, 50) in pixel-corner coordinates.
    for (int dx : {-44, 44})
        EXPECT_FALSE(IsWhite(image.pixel(100 + dx, 50))) << dx;
    for (int dx : {-52, 52})
        EXPECT_TRUE(IsWhite(image.pixel(100 + dx, 50))) << dx;
    EXPECT_FALSE(IsWhite(image.pixel(100, 50 - 44)));
    EXPECT_TRUE(IsWhite(image.pixel(100, 50 - 50)));
    EXPECT_TRUE(IsWhite(image.pixel(100, 99)));
}

TEST_F(SemaphoreTest, FramedSphereAndPyramidShapes) {
    TnrSemaphore lamp;
    lamp.resize(100, 100);
    lamp.RebuildImages();
    const QImage plain = lamp.CheckedImage().Image;

    lamp.SetFrame3D(true);
    const QImage framed = lamp.CheckedImage().Image;
    // The framed sphere is smaller (radius 6) inside a rim of base radius 8 at z = 0:
    // the rim ends at 8 / 32 of the view's half-height tangent, short of the plain
    // sphere's silhouette.
    EXPECT_FALSE(IsWhite(plain.pixel(50 + 47, 50)));
    EXPECT_TRUE(IsWhite(framed.pixel(50 + 47, 50)));
    EXPECT_FALSE(IsWhite(framed.pixel(50 + 42, 50)));
    EXPECT_FALSE(IsWhite(framed.pixel(50, 50 - 42)));
    EXPECT_NE(plain, framed);
    EXPECT_TRUE(IsWhite(framed.pixel(0, 0)));

    lamp.SetFrame3D(false);
    lamp.SetStyle3D(nrs3DBox);
    const QImage pyramid = lamp.CheckedImage().Image;
    // Seen from the open base, the four faces fill the view.
    EXPECT_FALSE(IsWhite(pyramid.pixel(0, 0)));
    EXPECT_FALSE(IsWhite(pyramid.pixel(50, 50)));
    EXPECT_TRUE(Dominant(pyramid.pixel(50, 50), kBlue)) << Rgb(pyramid.pixel(50, 50));

    lamp.SetFrame3D(true);
    const QImage framedPyramid = lamp.CheckedImage().Image;
    EXPECT_TRUE(Dominant(framedPyramid.pixel(50, 50), kBlue)) << Rgb(framedPyramid.pixel(50, 50));
    EXPECT_FALSE(IsWhite(framedPyramid.pixel(0, 0)));
}

TEST_F(SemaphoreTest, OnDrawReplacesTheShapeWithTheStateColourCurrent) {
    TnrSemaphore lamp;
    std::vector<std::array<float, 3>> colours;
    lamp.SetColor3DCheck(RGBToColor(255, 0, 51));
    lamp.SetColor3DUnCheck(clBtnFace);
    lamp.OnDraw3D = [&](QObject* sender) {
        EXPECT_EQ(sender, &lamp);
        GLfloat current[4] = {-1, -1, -1, -1};
        GL<void(GLenum, GLfloat*)>("glGetFloatv")(GL_CURRENT_COLOR, current);
        colours.push_back({current[0], current[1], current[2]});
    };
    lamp.RebuildImages();
    ASSERT_EQ(colours.size(), 2u);
    EXPECT_FLOAT_EQ(colours[0][0], 1.0f);
    EXPECT_FLOAT_EQ(colours[0][1], 0.0f);
    EXPECT_NEAR(colours[0][2], 0.2f, 1e-6);
    // A system colour reference is not resolved: its low byte is taken as red.
    EXPECT_NEAR(colours[1][0], 15.0f / 255.0f, 1e-6);
    EXPECT_FLOAT_EQ(colours[1][1], 0.0f);
    // The handler drew nothing, so nothing but white.
    const QImage& image = lamp.CheckedImage().Image;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_TRUE(IsWhite(image.pixel(x, y))) << x << "," << y;

    // A handler that draws, and one that throws: the lamp survives and shows its state.
    lamp.OnDraw3D = [](QObject*) {
        auto vertex = GL<void(GLdouble, GLdouble, GLdouble)>("glVertex3d");
        GL<void(GLenum)>("glDisable")(GL_LIGHTING);
        GL<void(GLenum)>("glBegin")(GL_QUADS);
        vertex(-1, -1, 0);
        vertex(1, -1, 0);
        vertex(1, 1, 0);
        vertex(-1, 1, 0);
        GL<void()>("glEnd")();
    };
    lamp.RebuildImages();
    EXPECT_EQ(Rgb(lamp.CheckedImage().Image.pixel(8, 8)), Rgb(qRgb(255, 0, 51)));
    EXPECT_TRUE(IsWhite(lamp.CheckedImage().Image.pixel(0, 0)));
    lamp.OnDraw3D = [](QObject*) { throw std::runtime_error("broken handler"); };
    EXPECT_NO_THROW(lamp.RebuildImages());
    EXPECT_EQ(lamp.PaintedImage(), &lamp.CheckedImage());
}

// ---------------------------------------------------------------------------------------
// Image lists

TEST_F(SemaphoreTest, ImageListPicturesAreCentredOrStretchedWithoutTheirKeyColour) {
    auto window = MakeShownWindow(40, 40, QColor(255, 255, 0));
    auto* lamp = new TnrSemaphore(window.get());
    TImageList* list = MakeImageList(window.get());
    lamp->move(10, 10);
    lamp->SetStyle3D(nrs3DNone);
    lamp->SetImages(list);
    lamp->SetImageUnChecked(1);
    lamp->show();
    EXPECT_EQ(lamp->CheckedImage().Image, list->GetBitmap(0));
    EXPECT_EQ(lamp->UnCheckedImage().Image, list->GetBitmap(1));
    EXPECT_TRUE(lamp->CheckedImage().AutoTransparentColor);

    // 8 x 8 centred in 16 x 16: the square is at 4 + 2 .. 4 + 5, magenta is left out.
    QImage screen = GrabRgb(window.get());
    EXPECT_EQ(Rgb(screen.pixel(10 + 4 + 2, 10 + 4 + 2)), Rgb(QColor(Qt::green).rgb()));
    EXPECT_EQ(Rgb(screen.pixel(10 + 4, 10 + 4)), Rgb(qRgb(255, 255, 0)));
    EXPECT_EQ(Rgb(screen.pixel(10 + 3 + 2, 10 + 4 + 2)), Rgb(qRgb(255, 255, 0)));

    lamp->SetChecked(false);
    lamp->SetStretchImage(true);
    screen = GrabRgb(window.get());
    // Stretched twice: the square covers 4 .. 11.
    EXPECT_EQ(Rgb(screen.pixel(10 + 4, 10 + 4)), Rgb(QColor(Qt::blue).rgb()));
    EXPECT_EQ(Rgb(screen.pixel(10 + 11, 10 + 11)), Rgb(QColor(Qt::blue).rgb()));
    EXPECT_EQ(Rgb(screen.pixel(10 + 3, 10 + 3)), Rgb(qRgb(255, 255, 0)));

    lamp->SetTransparent(false);
    screen = GrabRgb(window.get());
    EXPECT_EQ(Rgb(screen.pixel(10 + 3, 10 + 3)), Rgb(QColor(Qt::magenta).rgb()));
}

TEST_F(SemaphoreTest, NegativeIndexKeepsTheLastRenderedImage) {
    QObject owner;
    TImageList* list = MakeImageList(&owner);
    TnrSemaphore lamp;
    const QImage rendered = lamp.CheckedImage().Image;
    lamp.SetImages(list);
    lamp.SetImageChecked(-1);
    lamp.SetImageUnChecked(1);
    lamp.SetStyle3D(nrs3DNone);
    EXPECT_EQ(lamp.CheckedImage().Image, rendered);
    EXPECT_EQ(lamp.UnCheckedImage().Image, list->GetBitmap(1));

    // A bad index changes nothing and raises nothing.
    EXPECT_NO_THROW(lamp.SetImageUnChecked(7));
    EXPECT_EQ(lamp.UnCheckedImage().Image, list->GetBitmap(1));
    EXPECT_EQ(lamp.PaintedImage(), &lamp.CheckedImage());
}

TEST_F(SemaphoreTest, ForgetsADestroyedImageList) {
    TnrSemaphore lamp;
    lamp.SetStyle3D(nrs3DNone);
    {
        TImageList list(nullptr, 16, 16);
        QImage image(16, 16, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        list.Add(image);
        lamp.SetImages(&list);
        EXPECT_EQ(lamp.Images(), &list);
        EXPECT_EQ(lamp.CheckedImage().Image, image);
    }
    EXPECT_EQ(lamp.Images(), nullptr);
    EXPECT_NO_THROW(lamp.RebuildImages());
    EXPECT_EQ(lamp.CheckedImage().Image.pixel(3, 3) & RGB_MASK, QColor(Qt::darkCyan).rgb() & RGB_MASK);

    TImageList wrongSize(nullptr, 16, 16);
    EXPECT_THROW(wrongSize.Add(QImage(8, 8, QImage::Format_RGB32)), ENrException);
    EXPECT_THROW(wrongSize.GetBitmap(0), ENrException);
}

// ---------------------------------------------------------------------------------------
// Checked, pulse

TEST_F(SemaphoreTest, CheckedIsAPropertyAPortCanSet) {
    TnrSemaphore lamp;
    EXPECT_TRUE(lamp.setProperty("Checked", false));
    EXPECT_FALSE(lamp.Checked());
    EXPECT_EQ(lamp.PaintedImage(), &lamp.UnCheckedImage());
    EXPECT_EQ(lamp.property("Checked").toBool(), false);
    lamp.setProperty("Checked", true);
    EXPECT_EQ(lamp.PaintedImage(), &lamp.CheckedImage());
}

TEST_F(SemaphoreTest, PulseFallsBackAfterItsDurationAndANewCheckRestartsIt) {
    TnrSemaphore lamp;
    lamp.SetChecked(false);
    lamp.SetPulseDuration(400);
    lamp.SetPulse(true);
    lamp.SetChecked(false); // a stopped pulse stays stopped on an uncheck
    EXPECT_FALSE(lamp.PulseRunning());

    QElapsedTimer clock;
    clock.start();
    lamp.SetChecked(true);
    EXPECT_EQ(lamp.PaintedImage(), &lamp.CheckedImage());
    ProcessEventsFor(200ms);
    ASSERT_TRUE(lamp.Checked()) << "fell back after " << clock.elapsed() << " ms";
    const qint64 second = clock.elapsed();
    lamp.SetChecked(true);
    ASSERT_TRUE(WaitUntil([&] { return !lamp.Checked(); }, 3s));
    const qint64 fell = clock.elapsed();
    EXPECT_GE(fell, second + 400 - 15) << "the second check did not restart the period";
    EXPECT_EQ(lamp.PaintedImage(), &lamp.UnCheckedImage());
    EXPECT_FALSE(lamp.PulseRunning());
}

TEST_F(SemaphoreTest, PulseTurnedOnWhileUncheckedJustStopsWhenItFires) {
    TnrSemaphore lamp;
    lamp.SetChecked(false);
    lamp.SetPulseDuration(50);
    lamp.SetPulse(true);
    EXPECT_TRUE(lamp.PulseRunning());
    ASSERT_TRUE(WaitUntil([&] { return !lamp.PulseRunning(); }, 2s));
    EXPECT_FALSE(lamp.Checked());
    EXPECT_EQ(lamp.PaintedImage(), &lamp.UnCheckedImage());

    lamp.SetChecked(true);
    EXPECT_TRUE(lamp.PulseRunning());
    lamp.SetPulse(false);
    EXPECT_FALSE(lamp.PulseRunning());
    ProcessEventsFor(120ms);
    EXPECT_TRUE(lamp.Checked()) << "a lamp out of pulse mode stays checked";
}

// ---------------------------------------------------------------------------------------
// The shared blinker

TEST_F(SemaphoreTest, BlinkingLampsShareOnePhase) {
    TnrBlink* blinker = Blinker();
    ASSERT_NE(blinker, nullptr);
    EXPECT_FALSE(blinker->Running());
    TnrSemaphore first;
    TnrSemaphore second;
    TnrSemaphore unchecked;
    unchecked.SetChecked(false);
    for (TnrSemaphore* lamp : {&first, &second, &unchecked})
        lamp->SetBlink(true);
    first.SetBlink(true);
    EXPECT_EQ(blinker->Count(), 3) << "a lamp is listed once";
    EXPECT_TRUE(blinker->Running());

    blinker->SetEnabled(false); // step by hand from here
    const bool phase = blinker->LightFlag();
    for (int step = 1; step <= 4; ++step) {
        blinker->OnBlinkTimer(blinker);
        const bool lit = (step % 2 == 1) != phase;
        EXPECT_EQ(blinker->LightFlag(), lit);
        EXPECT_EQ(first.PaintedImage(), lit ? &first.CheckedImage() : &first.UnCheckedImage());
        EXPECT_EQ(second.PaintedImage(), lit ? &second.CheckedImage() : &second.UnCheckedImage());
        EXPECT_EQ(unchecked.PaintedImage(), &unchecked.UnCheckedImage());
    }

    // Leaving the blinker in the unlit phase shows the checked image again.
    if (blinker->LightFlag()) blinker->OnBlinkTimer(blinker);
    ASSERT_EQ(first.PaintedImage(), &first.UnCheckedImage());
    first.SetBlink(false);
    EXPECT_EQ(first.PaintedImage(), &first.CheckedImage());
    EXPECT_EQ(blinker->Count(), 2);
    second.SetBlink(false);
    unchecked.SetBlink(false);
    EXPECT_EQ(blinker->Count(), 0);
    EXPECT_FALSE(blinker->Enabled()) << "an empty blinker stops";
}

TEST_F(SemaphoreTest, TheBlinkTimerRunsAllLampsInStepAtTheSharedInterval) {
    TnrSemaphore a;
    TnrSemaphore b;
    a.SetBlinkInterval(40);
    EXPECT_EQ(b.BlinkInterval(), 40u);
    EXPECT_EQ(Blinker()->Interval(), 40u);
    a.SetBlink(true);
    b.SetBlink(true);
    int flips = 0;
    bool last = Blinker()->LightFlag();
    QElapsedTimer clock;
    clock.start();
    while (flips < 6 && clock.elapsed() < 3000) {
        ProcessEventsFor(5ms);
        if (Blinker()->LightFlag() != last) {
            last = Blinker()->LightFlag();
            ++flips;
            EXPECT_EQ(a.PaintedImage() == &a.CheckedImage(), last);
            EXPECT_EQ(b.PaintedImage() == &b.CheckedImage(), last);
        }
    }
    EXPECT_EQ(flips, 6);
    EXPECT_GE(clock.elapsed(), 5 * 40 - 15) << "blinking faster than the interval";
}

TEST_F(SemaphoreTest, ADestroyedLampLeavesTheBlinker) {
    auto lamp = std::make_unique<TnrSemaphore>();
    lamp->SetBlink(true);
    ASSERT_EQ(Blinker()->Count(), 1);
    lamp.reset();
    EXPECT_EQ(Blinker()->Count(), 0);
    EXPECT_NO_THROW(Blinker()->OnBlinkTimer(Blinker()));
}

TEST(SemaphoreModule, TheBlinkerLivesFromInitialisationToFinalisation) {
    EXPECT_EQ(Blinker(), nullptr);
    TnrSemaphore lamp;
    EXPECT_THROW(lamp.SetBlink(true), ENrException);
    EXPECT_FALSE(lamp.Blink());
    EXPECT_EQ(lamp.BlinkInterval(), 100u);
    {
        TLibraryModules modules{nrsemaphoreModule};
        ASSERT_NE(Blinker(), nullptr);
        EXPECT_FALSE(Blinker()->Enabled());
        EXPECT_EQ(Blinker()->Interval(), 100u);
        lamp.SetBlink(true);
        EXPECT_TRUE(Blinker()->Running());
    }
    EXPECT_EQ(Blinker(), nullptr);
    // The lamp outlived the blinker; turning blinking off must not touch it.
    EXPECT_NO_THROW(lamp.SetBlink(false));
    EXPECT_EQ(lamp.PaintedImage(), &lamp.CheckedImage());
}

// ---------------------------------------------------------------------------------------
// Size changes and files

TEST_F(SemaphoreTest, ResizingRebuildsTheImages) {
    auto window = MakeShownWindow(80, 80);
    auto* lamp = new TnrSemaphore(window.get());
    lamp->show();
    lamp->resize(32, 24);
    EXPECT_EQ(lamp->CheckedImage().Image.size(), QSize(32, 24));
    EXPECT_EQ(lamp->UnCheckedImage().Image.size(), QSize(32, 24));

    // A hidden lamp gets no resize events; its images follow at the next paint.
    TnrSemaphore hidden;
    hidden.resize(20, 20);
    const QImage grabbed = GrabRgb(&hidden);
    EXPECT_EQ(hidden.CheckedImage().Image.size(), QSize(20, 20));
    EXPECT_TRUE(Dominant(grabbed.pixel(10, 10), kBlue));
}

TEST_F(SemaphoreTest, SaveToFileWritesTheCurrentImageAsA24BitBmp) {
    QTemporaryDir dir;
    TnrSemaphore lamp;
    lamp.resize(20, 12);
    lamp.SetChecked(false);
    const QString path = dir.filePath(QStringLiteral("lamp.bmp"));
    lamp.SaveToFile(path);
    EXPECT_EQ(lamp.UnCheckedImage().Image.size(), QSize(20, 12)) << "SaveToFile rebuilds first";

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GT(bytes.size(), 54);
    EXPECT_EQ(bytes.left(2), QByteArray("BM"));
    EXPECT_EQ(static_cast<unsigned char>(bytes[28]), 24) << "bits per pixel";
    const QImage saved(path, "BMP");
    ASSERT_EQ(saved.size(), QSize(20, 12));
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), lamp.UnCheckedImage().Image);

    const QString bad = dir.filePath(QStringLiteral("missing/lamp.bmp"));
    try {
        lamp.SaveToFile(bad);
        FAIL() << "no error for a folder that does not exist";
    } catch (const ENrException& e) {
        EXPECT_TRUE(e.Message().contains(bad)) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().contains(QStringLiteral("No such file or directory")))
            << e.Message().toStdString();
    }
    EXPECT_FALSE(QFile::exists(bad));
}
