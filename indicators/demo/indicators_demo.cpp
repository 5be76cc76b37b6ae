// Shows the indicator controls in both states: the LEDs of the monitor's channels, the
// three built-in glyphs, see-through LEDs on a coloured panel, and semaphore lamps in
// each 3D style, framed or not, plus one blinking and one pulsing lamp.
//
//   indicators_demo [--grab FILE.png] [--quit-after MS]
//
// --grab saves a picture of the window once it is shown (works offscreen too);
// --quit-after closes the window after MS milliseconds.
#include "VrLeds.h"
#include "nrsemaphore.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QTimer>
#include <QWidget>

namespace {

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

TVrLed* AddChannelLed(QWidget* parent, int x, int y, const QString& caption, TColor low, TColor high,
                      bool active) {
    auto* led = new TVrLed(parent);
    led->SetBounds(x, y, 61, 15);
    led->SetLedType(ltLargeRect);
    led->SetCaption(caption);
    led->SetColors(low, high);
    led->setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    led->SetActive(active);
    return led;
}

TnrSemaphore* AddLamp(QWidget* parent, int x, int y, int size, TnrStyle3D style, bool frame, bool checked) {
    auto* lamp = new TnrSemaphore(parent);
    lamp->setGeometry(x, y, size, size);
    lamp->SetStyle3D(style);
    lamp->SetFrame3D(frame);
    lamp->SetChecked(checked);
    return lamp;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TLibraryModules modules{nrsemaphoreModule, VrLedsModule};

    QString grabFile;
    int quitAfter = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--grab"))
            grabFile = args[++i];
        else if (args[i] == QLatin1String("--quit-after"))
            quitAfter = args[++i].toInt();
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Indicators"));
    window.setFixedSize(520, 330);

    // The monitor's channel lamps: "On" green/lime, "Off" maroon/red, off and on.
    AddLabel(&window, QStringLiteral("Channel LEDs (61 x 15): unlit, lit"), 10, 8);
    AddChannelLed(&window, 10, 30, QStringLiteral("On"), clGreen, clLime, false);
    AddChannelLed(&window, 80, 30, QStringLiteral("On"), clGreen, clLime, true);
    AddChannelLed(&window, 160, 30, QStringLiteral("Off"), clMaroon, clRed, false);
    AddChannelLed(&window, 230, 30, QStringLiteral("Off"), clMaroon, clRed, true);

    // The three built-in glyphs at the default size, unlit then lit.
    AddLabel(&window, QStringLiteral("Glyphs (25 x 25): RND, RECT, BIG"), 10, 58);
    const TVrLedType types[] = {ltRounded, ltRectangle, ltLargeRect};
    for (int t = 0; t < 3; ++t)
        for (int lit = 0; lit < 2; ++lit) {
            auto* led = new TVrLed(&window);
            led->move(10 + t * 70 + lit * 30, 80);
            led->SetLedType(types[t]);
            led->SetActive(lit == 1);
        }

    // See-through LEDs on a coloured panel, with captions in each layout.
    auto* panel = new QWidget(&window);
    panel->setGeometry(260, 58, 250, 100);
    panel->setAutoFillBackground(true);
    QPalette panelPalette = panel->palette();
    panelPalette.setColor(QPalette::Window, QColor(70, 110, 170));
    panel->setPalette(panelPalette);
    const TVrImageTextLayout layouts[] = {ImageLeft, ImageRight, ImageTop, ImageBottom};
    const char* const names[] = {"Left", "Right", "Top", "Bottom"};
    for (int i = 0; i < 4; ++i) {
        auto* led = new TVrLed(panel);
        led->SetBounds(5 + i * 60, 10, 58, 80);
        led->SetTransparent(true);
        led->SetLedType(i % 2 ? ltRectangle : ltLargeRect);
        led->SetLayout(layouts[i]);
        led->SetCaption(QString::fromLatin1(names[i]));
        led->SetColors(clNavy, clAqua);
        led->SetActive(i % 2 == 0);
    }

    // Semaphore lamps: every style, framed or not, checked and unchecked.
    AddLabel(&window,
             QStringLiteral("Semaphores: sphere, framed sphere, box, framed box (checked, unchecked)"), 10,
             168);
    const TnrStyle3D styles[] = {nrs3DSphere, nrs3DSphere, nrs3DBox, nrs3DBox};
    for (int i = 0; i < 4; ++i)
        for (int checked = 0; checked < 2; ++checked)
            AddLamp(&window, 10 + i * 125 + checked * 55, 190, 48, styles[i], i % 2 == 1, checked == 0);

    AddLabel(&window, QStringLiteral("16 x 16, blinking, pulsing every second"), 10, 255);
    AddLamp(&window, 10, 280, 16, nrs3DSphere, false, true);
    AddLamp(&window, 34, 280, 16, nrs3DSphere, false, false);
    auto* blinking = AddLamp(&window, 70, 274, 28, nrs3DSphere, false, true);
    blinking->SetColor3DCheck(clLime);
    blinking->SetColor3DUnCheck(clGreen);
    blinking->SetBlinkInterval(400);
    blinking->SetBlink(true);
    auto* pulsing = AddLamp(&window, 110, 274, 28, nrs3DSphere, false, false);
    pulsing->SetColor3DCheck(clYellow);
    pulsing->SetColor3DUnCheck(clGray);
    pulsing->SetPulseDuration(500);
    pulsing->SetPulse(true);
    QTimer pulseSource;
    QObject::connect(&pulseSource, &QTimer::timeout, pulsing, [pulsing] { pulsing->SetChecked(true); });
    pulseSource.start(1000);

    window.show();

    if (!grabFile.isEmpty())
        QTimer::singleShot(300, &window, [&window, grabFile] {
            if (!window.grab().save(grabFile)) qWarning("cannot save %s", qPrintable(grabFile));
        });
    if (quitAfter > 0) QTimer::singleShot(quitAfter, &app, &QApplication::quit);
    return app.exec();
}
