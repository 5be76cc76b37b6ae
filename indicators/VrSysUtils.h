// Helpers of the Vr controls:
//   LayoutGlyphAndText   where a glyph and its caption go in a control (integer
//                        arithmetic, divisions truncate toward zero);
//   MeasureCaption       a caption's size as the layout measures it: one line per line
//                        break, "&" marking a mnemonic ("&&" is a literal "&");
//   DrawCaption          a caption on one line, vertically centred, mnemonic underlined;
//   screen cursors       the application's numbered cursor table.
//
// Threads: the layout is pure; measuring and drawing use fonts and the cursor table is
// unguarded, so call those on the user-interface thread.
#pragma once

#include <QCursor>
#include <QFont>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QString>
#include <cstdint>

enum TVrImageTextLayout : std::uint8_t { ImageLeft, ImageRight, ImageTop, ImageBottom };

// Places a glyph of GlyphSize and a caption of TextSize in Client. Margin and Spacing
// of -1 are automatic. An empty TextSize (width 0) or glyph means no spacing.
void LayoutGlyphAndText(const QRect& Client, const QSize& TextSize, TVrImageTextLayout Layout, int Margin,
                        int Spacing, const QSize& GlyphSize, QRect& GlyphPos, QRect& TextBounds);

// The same, measuring Caption in Font first.
void LayoutGlyphAndText(const QFont& Font, const QRect& Client, const QString& Caption,
                        TVrImageTextLayout Layout, int Margin, int Spacing, const QSize& GlyphSize,
                        QRect& GlyphPos, QRect& TextBounds);

// Width of the widest line and height of all lines; (0, 0) for an empty caption.
QSize MeasureCaption(const QFont& Font, const QString& Caption);

// Draws Caption in Bounds on one line, vertically centred, with a transparent
// background, in the painter's font and pen; clipped to Bounds.
void DrawCaption(QPainter& Painter, const QRect& Bounds, const QString& Caption);

// Cursor numbers of the table.
constexpr int crVrHandPoint = 99;

void SetScreenCursor(int Index, const QCursor& Cursor);
void RemoveScreenCursor(int Index);
bool HasScreenCursor(int Index);
// The registered cursor, or the arrow when the number is not registered.
QCursor ScreenCursor(int Index);
