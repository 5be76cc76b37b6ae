// The pictures of the program's buttons, drawn with QPainter at 16 x 16 pixels. Each comes
// as a normal and a greyed picture for the disabled state, together in one QIcon.
//
// Threads: user-interface thread only (QPixmap).
#pragma once

#include <QIcon>
#include <QPixmap>

enum class TPicture {
    ptHelpBook,      // a book with a red question mark
    ptGears,         // two gear wheels
    ptDoubleCheck,   // a green double check mark
    ptCheck,         // a green check mark
    ptCross,         // a red cross
    ptSaveToDisk,    // a page, a red arrow and a disk
    ptDoor,          // a red door
    ptCirclingArrows // two green arrows chasing each other round a circle
};

inline constexpr int kPictureSize = 16;

QPixmap DrawPicture(TPicture picture);
// The picture in grey, lighter, as a disabled control shows it.
QPixmap GreyedPicture(const QPixmap& picture);
// Both pictures: normal for the enabled states, greyed for the disabled one.
QIcon PictureIcon(TPicture picture);
