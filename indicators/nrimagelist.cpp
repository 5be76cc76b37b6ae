#include "nrimagelist.h"

TImageList::TImageList(QObject* AOwner, int AWidth, int AHeight)
    : TComponent(AOwner), fWidth(AWidth), fHeight(AHeight) {}

TImageList::~TImageList() = default;

int TImageList::Add(const QImage& Image) {
    if (Image.width() != fWidth || Image.height() != fHeight)
        throw ENrException(QStringLiteral("Invalid image size: %1 x %2 in an image list of %3 x %4")
                               .arg(Image.width())
                               .arg(Image.height())
                               .arg(fWidth)
                               .arg(fHeight));
    fImages.append(Image.convertToFormat(QImage::Format_RGB32));
    return Count() - 1;
}

QImage TImageList::GetBitmap(int Index) const {
    if (Index < 0 || Index >= Count())
        throw ENrException(QStringLiteral("Image index %1 out of range (%2 images)").arg(Index).arg(Count()));
    return fImages.at(Index).copy();
}
