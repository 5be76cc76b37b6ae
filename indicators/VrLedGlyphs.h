// The built-in LED glyph bitmaps "LI_RND", "LI_RECT" and "LI_BIG", and the hand-pointer
// cursor "VRCURSORHANDPOINT", looked up by resource name.
//
// Each glyph holds two cells side by side: the unlit lamp on the left, the lit lamp on
// the right. The unlit body is maroon and the lit body red, so that a palette can
// recolour them; black is left out when a glyph is drawn.
//
// Threads: LoadBitmap from any thread; LoadCursor on the user-interface thread.
#pragma once

#include <QCursor>
#include <QImage>
#include <QString>

// The named glyph as a 32-bit RGB image; ENrException for an unknown name.
QImage LoadBitmap(const QString& ResourceName);

// The named cursor; ENrException for an unknown name.
QCursor LoadCursor(const QString& ResourceName);
