// The 3D lamp renderer: one OSMesa context per image, the scene of the semaphore's lamp
// and its two shapes. Built as the module libnrlamp3d.so, or into the indicators library
// of a sanitizer build (see nrlamp3d.h).
#include "lamp3d/nrlamp3dapi.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <GL/osmesa.h>
#include <cstdio>
#include <cstring>

namespace {

void SetError(char* Error, std::size_t ErrorSize, const char* Text) {
    if (Error && ErrorSize > 0) std::snprintf(Error, ErrorSize, "%s", Text);
}

// Makes an OSMesa context current on the caller's pixels for its lifetime.
class TBitmapContext {
public:
    TBitmapContext(int Width, int Height, std::uint32_t* Pixels) {
        // BGRA bytes in memory are 0xAARRGGBB pixels on a little-endian machine.
        fContext = OSMesaCreateContextExt(OSMESA_BGRA, 32, 0, 0, nullptr);
        if (!fContext) fContext = OSMesaCreateContextExt(OSMESA_BGRA, 24, 0, 0, nullptr);
        if (!fContext) {
            fError = "OSMesa could not create a rendering context";
            return;
        }
        if (!OSMesaMakeCurrent(fContext, Pixels, GL_UNSIGNED_BYTE, Width, Height)) {
            OSMesaDestroyContext(fContext);
            fContext = nullptr;
            fError = "OSMesa could not bind the bitmap";
            return;
        }
        // A gl* call that went to another OpenGL library would find no context there.
        if (!glGetString(GL_VERSION)) {
            Release();
            fError = "OpenGL calls of the lamp renderer go to another library than OSMesa (link order)";
            return;
        }
        // Rows top to bottom, like the caller's image.
        OSMesaPixelStore(OSMESA_Y_UP, 0);
        // OSMesa draws into a framebuffer of its own and copies it to the pixels when
        // drawing finishes, so their white does not carry over: start the framebuffer
        // white, then give the clear colour back its initial value.
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    }
    ~TBitmapContext() { Release(); }
    TBitmapContext(const TBitmapContext&) = delete;
    TBitmapContext& operator=(const TBitmapContext&) = delete;

    bool IsValid() const { return fContext != nullptr; }
    const char* Error() const { return fError; }

private:
    void Release() {
        if (!fContext) return;
        glFinish();
        OSMesaMakeCurrent(nullptr, nullptr, GL_UNSIGNED_BYTE, 0, 0);
        OSMesaDestroyContext(fContext);
        fContext = nullptr;
    }

    OSMesaContext fContext = nullptr;
    const char* fError = nullptr;
};

void DrawShape(int Shape, bool Frame) {
    if (Shape == 1) {
        GLUquadric* quadric = gluNewQuadric();
        if (!quadric) return;
        if (Frame) {
            gluSphere(quadric, 6.0, 64, 64);
            gluCylinder(quadric, 8.0, 5.9, 1.0, 64, 64);
        } else {
            gluSphere(quadric, 8.0, 64, 64);
        }
        gluDeleteQuadric(quadric);
        return;
    }
    if (Shape != 2) return;

    double s = 5.0;
    if (Frame) {
        glBegin(GL_QUADS);
        glVertex3d(-7.0, 7.0, 23.0);
        glVertex3d(7.0, 7.0, 23.0);
        glVertex3d(7.0, -7.0, 23.0);
        glVertex3d(-7.0, -7.0, 23.0);
        glEnd();
        s = 10.0;
    }
    // Top, right, bottom and left edges of the square, each joined to the apex.
    const double corners[5][2] = {{-s, s}, {s, s}, {s, -s}, {-s, -s}, {-s, s}};
    glBegin(GL_TRIANGLES);
    for (int edge = 0; edge < 4; ++edge) {
        glVertex3d(0.0, 0.0, -5.0);
        glVertex3d(corners[edge][0], corners[edge][1], 25.0);
        glVertex3d(corners[edge + 1][0], corners[edge + 1][1], 25.0);
    }
    glEnd();
}

} // namespace

int nrLamp3DRender(const TnrLamp3DScene* Scene, std::uint32_t* Pixels, char* Error, std::size_t ErrorSize) {
    if (!Scene || !Pixels || Scene->Width <= 0 || Scene->Height <= 0) {
        SetError(Error, ErrorSize, "empty bitmap");
        return 0;
    }
    std::memset(Pixels, 0xFF, static_cast<std::size_t>(Scene->Width) * Scene->Height * sizeof(std::uint32_t));
    TBitmapContext context(Scene->Width, Scene->Height, Pixels);
    if (!context.IsValid()) {
        SetError(Error, ErrorSize, context.Error());
        return 0;
    }

    glClear(GL_DEPTH_BUFFER_BIT);
    glViewport(0, 0, Scene->Width, Scene->Height);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_POINT_SMOOTH);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(30.0, static_cast<double>(Scene->Width) / Scene->Height, 1.0, 100.0);

    // The light is placed in eye coordinates: with the model view still the identity.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const GLfloat lightPosition[] = {-7.0f, 7.0f, 0.7f, 0.5f};
    const GLfloat ambient[] = {0.2f, 0.2f, 0.2f, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glColorMaterial(GL_FRONT, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);

    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -32.0f);
    glColor3f(Scene->Red, Scene->Green, Scene->Blue);

    if (Scene->Draw)
        Scene->Draw(Scene->DrawContext);
    else
        DrawShape(Scene->Shape, Scene->Frame);
    return 1; // the context's release finishes the drawing into the pixels
}

void* nrLamp3DProcAddress(const char* Name) {
    return Name ? reinterpret_cast<void*>(OSMesaGetProcAddress(Name)) : nullptr;
}
