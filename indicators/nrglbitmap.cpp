#include "nrglbitmap.h"

#include <GL/osmesa.h>
#include <cstring>
#include <dlfcn.h>

namespace {

// True when the program's gl* calls reach OSMesa. Another OpenGL library earlier in the
// program's library list (libOpenGL, brought in by Qt) would take those calls and draw
// nowhere; see the link options of the indicators library.
bool GLCallsReachOSMesa() {
    static const bool reach = [] {
        void* osmesa = dlopen("libOSMesa.so.8", RTLD_LAZY | RTLD_NOLOAD);
        if (!osmesa) return true; // linked statically or under another name: nothing to compare
        const bool same = dlsym(RTLD_DEFAULT, "glBegin") == dlsym(osmesa, "glBegin");
        dlclose(osmesa);
        return same;
    }();
    return reach;
}

} // namespace

TnrGLBitmapContext::TnrGLBitmapContext(const QSize& Size, int DepthBits) : fSize(Size) {
    if (Size.width() <= 0 || Size.height() <= 0) {
        fError = QStringLiteral("empty bitmap (%1 x %2)").arg(Size.width()).arg(Size.height());
        return;
    }
    if (!GLCallsReachOSMesa()) {
        fError =
            QStringLiteral("OpenGL calls of this program go to another library than OSMesa (link order)");
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(Size.width()) * Size.height() * 4;
    fBuffer.reset(new unsigned char[bytes]);
    std::memset(fBuffer.get(), 0xFF, bytes);

    // BGRA bytes in memory are QImage's 32-bit pixels on a little-endian machine.
    OSMesaContext context = OSMesaCreateContextExt(OSMESA_BGRA, DepthBits, 0, 0, nullptr);
    if (!context && DepthBits > 24) context = OSMesaCreateContextExt(OSMESA_BGRA, 24, 0, 0, nullptr);
    if (!context) {
        fError = QStringLiteral("OSMesa could not create a rendering context");
        return;
    }
    if (!OSMesaMakeCurrent(context, fBuffer.get(), GL_UNSIGNED_BYTE, Size.width(), Size.height())) {
        OSMesaDestroyContext(context);
        fError =
            QStringLiteral("OSMesa could not bind the bitmap (%1 x %2)").arg(Size.width()).arg(Size.height());
        return;
    }
    // Rows top to bottom, like the image the buffer becomes.
    OSMesaPixelStore(OSMESA_Y_UP, 0);
    // OSMesa draws into a framebuffer of its own and copies it to the buffer when drawing
    // finishes, so the buffer's white does not carry over: start the framebuffer white,
    // then give the clear colour back its initial value.
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    fContext = context;
}

TnrGLBitmapContext::~TnrGLBitmapContext() {
    if (!fContext) return;
    auto* context = static_cast<OSMesaContext>(fContext);
    glFinish();
    OSMesaMakeCurrent(nullptr, nullptr, GL_UNSIGNED_BYTE, 0, 0);
    OSMesaDestroyContext(context);
}

QImage TnrGLBitmapContext::Image() const {
    if (!fBuffer) return QImage();
    if (fContext) glFinish();
    QImage image(fSize, QImage::Format_RGB32);
    const int rowBytes = fSize.width() * 4;
    for (int y = 0; y < fSize.height(); ++y)
        std::memcpy(image.scanLine(y), fBuffer.get() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
    return image;
}
