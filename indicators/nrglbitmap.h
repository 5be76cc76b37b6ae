// TnrGLBitmapContext: an OpenGL rendering context that draws into a W x H bitmap in
// memory (OSMesa, software rendering, no display needed). While it exists it is the
// calling thread's current context; the bitmap starts all white, as the lamp images
// expect, and Image() returns what was drawn so far.
//
// Threads: a context is current on the thread that created it; create, use and destroy
// it on one thread.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <memory>

class TnrGLBitmapContext {
public:
    // 24 colour bits and the given depth bits; IsValid() tells whether it could be set up.
    explicit TnrGLBitmapContext(const QSize& Size, int DepthBits = 32);
    ~TnrGLBitmapContext();
    TnrGLBitmapContext(const TnrGLBitmapContext&) = delete;
    TnrGLBitmapContext& operator=(const TnrGLBitmapContext&) = delete;

    bool IsValid() const { return fContext != nullptr; }
    // Why the context could not be set up (empty when valid).
    QString ErrorText() const { return fError; }

    // Finishes drawing and returns the bitmap, top row first.
    QImage Image() const;

private:
    QSize fSize;
    std::unique_ptr<unsigned char[]> fBuffer;
    void* fContext = nullptr;
    QString fError;
};
