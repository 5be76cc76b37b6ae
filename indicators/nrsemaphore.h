// The signal-lamp indicator of the serial library and its shared blinker.
//
//   TnrSemaphore  shows one of two images, checked or unchecked: taken from an image
//                 list, or rendered as a lit 3D sphere or pyramid (OpenGL into a bitmap)
//                 in Color3DCheck / Color3DUnCheck. It can pulse (a check falls back to
//                 unchecked after PulseDuration ms; a new check restarts the period) and
//                 blink. A serial port drives it as a line monitor through the Checked
//                 property (QObject::setProperty("Checked", v)).
//   TnrBlink      the one process-wide blink timer: every BlinkInterval ms it flips the
//                 common phase and shows each checked blinking lamp's checked or unchecked
//                 image, so all lamps blink in phase. It exists from the initialisation of
//                 nrsemaphoreModule to its finalisation (Blinker()).
//
// A new semaphore is 16 x 16, checked, and shows a blue sphere on see-through white.
//
// The first 3D image loads the renderer (nrlamp3d.h); a program that shows no 3D lamp never
// loads OpenGL.
//
// Threads: widgets and timers of the user-interface thread; everything here, including
// the OpenGL rendering and OnDraw3D, runs on that thread.
#pragma once

#include "nrgraphiccontrol.h"
#include "nrimagelist.h"
#include "nrmodules.h"
#include "nrtimer.h"

#include <QImage>
#include <QList>
#include <cstdint>
#include <memory>

enum TnrStyle3D : std::uint8_t { nrs3DNone, nrs3DSphere, nrs3DBox };

// One of the two lamp images with its see-through setting: the key colour is either
// fixed or, automatically, the image's bottom-left pixel.
struct TnrLampImage {
    QImage Image;
    bool Transparent = false;
    bool AutoTransparentColor = true;
    QRgb TransparentColor = 0;

    bool IsEmpty() const { return Image.isNull(); }
    QRgb KeyColor() const;
    // The image with its key colour made fully transparent (or as it is when opaque).
    QImage Masked() const;
};

class TnrSemaphore : public TGraphicControl {
    Q_OBJECT
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
public:
    explicit TnrSemaphore(QWidget* AOwner = nullptr);
    ~TnrSemaphore() override;

    bool Checked() const { return fChecked; }
    void SetChecked(bool Value);
    bool Blink() const { return fBlink; }
    // ENrException when turning blinking on without the shared blinker.
    void SetBlink(bool Value);
    // The shared blinker's interval, for all lamps at once.
    std::uint32_t BlinkInterval() const;
    void SetBlinkInterval(std::uint32_t Value);
    bool Pulse() const { return fPulse; }
    void SetPulse(bool Value);
    std::uint32_t PulseDuration() const { return PulseTimer->Interval(); }
    void SetPulseDuration(std::uint32_t Value) { PulseTimer->SetInterval(Value); }
    TImageList* Images() const { return FImages; }
    void SetImages(TImageList* Value);
    int ImageChecked() const { return fImageChecked; }
    void SetImageChecked(int Value);
    int ImageUnChecked() const { return fImageUnChecked; }
    void SetImageUnChecked(int Value);
    TnrStyle3D Style3D() const { return fStyle3D; }
    void SetStyle3D(TnrStyle3D Value);
    bool Frame3D() const { return fFrame3D; }
    void SetFrame3D(bool Value);
    TColor Color3DCheck() const { return fColor3DCheck; }
    void SetColor3DCheck(TColor Value);
    TColor Color3DUnCheck() const { return fColor3DUnCheck; }
    void SetColor3DUnCheck(TColor Value);
    bool Transparent() const { return fTransparent; }
    void SetTransparent(bool Value);
    bool StretchImage() const { return fStretchImage; }
    void SetStretchImage(bool Value);

    // Replaces the built-in shape: called with the OpenGL context current, the scene
    // set up and the state's colour current. Takes effect at the next rebuild. The handler
    // draws through GLProcAddress: the renderer may be a module of its own (nrlamp3d.h),
    // which the program's own gl* calls don't reach.
    TNotifyEvent OnDraw3D;
    // The renderer's OpenGL function of that name (glBegin, glVertex3d ...); null when
    // unknown or when the renderer can't be loaded.
    static void* GLProcAddress(const char* Name);

    // Rebuilds the images, then writes the current state's image as a BMP file;
    // ENrException naming the file and the reason when it cannot be written.
    void SaveToFile(const QString& aFileName);

    // Renders or copies both images again and shows the current state's image. A
    // failure (a bad image index, a throwing OnDraw3D) is dropped.
    void RebuildImages();

    const TnrLampImage& CheckedImage() const { return fBmpCheck; }
    const TnrLampImage& UnCheckedImage() const { return fBmpUnCheck; }
    // The image shown now: &CheckedImage(), &UnCheckedImage() or null before the first.
    const TnrLampImage* PaintedImage() const { return fBmpPaint; }
    bool PulseRunning() const { return PulseTimer->Running(); }

protected:
    void Paint() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class TnrBlink;

    void SelectImage(bool State);
    void BuildImages();
    void PulseElapsed(QObject* Sender);
    void Render3D(TnrLampImage& Bitmap, TColor Color, TnrStyle3D Style);
    void ImagesRemoved(QObject* AComponent);

    int fImageChecked = 0;
    int fImageUnChecked = 0;
    TImageList* FImages = nullptr;
    bool fChecked = false;
    bool fBlink = false;
    std::unique_ptr<TnrTimer> PulseTimer;
    bool fPulse = false;
    bool fStretchImage = false;
    TnrStyle3D fStyle3D = nrs3DSphere;
    bool fTransparent = true;
    TColor fColor3DCheck = clBlue;
    TColor fColor3DUnCheck = clRed;
    bool fFrame3D = false;
    TnrLampImage fBmpCheck;
    TnrLampImage fBmpUnCheck;
    const TnrLampImage* fBmpPaint = nullptr;
    TFreeNotifications fImagesNotice;
};

class TnrBlink : public TnrTimer {
    Q_OBJECT
public:
    TnrBlink();
    ~TnrBlink() override;

    // Adds a lamp once; the timer runs while the list is not empty.
    void AddSemaphore(TnrSemaphore* Sem);
    void DeleteSemaphore(TnrSemaphore* Sem);
    bool Contains(const TnrSemaphore* Sem) const { return List.contains(const_cast<TnrSemaphore*>(Sem)); }
    int Count() const { return static_cast<int>(List.size()); }

    // The blink step: flips the phase and shows it on every checked lamp of the list.
    void OnBlinkTimer(QObject* Sender);
    bool LightFlag() const { return FLightFlag; }

private:
    QList<TnrSemaphore*> List;
    bool FLightFlag = false;
};

// The interval the shared blinker starts with (ms).
constexpr std::uint32_t kDefaultBlinkInterval = 100;

// The shared blinker; null before nrsemaphoreModule is initialised and after it is
// finalised.
TnrBlink* Blinker();

// Creates the shared blinker at start-up and frees it at the end.
extern const TLibraryModule nrsemaphoreModule;
