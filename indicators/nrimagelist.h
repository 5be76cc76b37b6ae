// TImageList: a list of images of one size, the source of a semaphore's images when it
// renders no 3D shape.
//
// Threads: user-interface thread only.
#pragma once

#include "nrcomponent.h"

#include <QImage>
#include <QList>

class TImageList : public TComponent {
    Q_OBJECT
public:
    explicit TImageList(QObject* AOwner = nullptr, int AWidth = 16, int AHeight = 16);
    ~TImageList() override;

    int Width() const { return fWidth; }
    int Height() const { return fHeight; }
    int Count() const { return static_cast<int>(fImages.size()); }

    // Appends an image of the list's size and returns its index; ENrException for an
    // image of another size.
    int Add(const QImage& Image);
    void Clear() { fImages.clear(); }
    // A copy of the image at Index (32-bit RGB); ENrException when out of range.
    QImage GetBitmap(int Index) const;

private:
    int fWidth;
    int fHeight;
    QList<QImage> fImages;
};
