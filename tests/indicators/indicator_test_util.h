// Helpers of the indicator tests: a shown top-level window (so that repaint requests
// really paint), pixel formatting for failure messages, and picture grabs.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <memory>
#include <string>

// A top-level window of the given size, shown and exposed on the offscreen screen.
std::unique_ptr<QWidget> MakeShownWindow(int width = 200, int height = 120, QColor background = Qt::black);

// What the window shows now, as 32-bit RGB.
QImage GrabRgb(QWidget* widget);

// "(r,g,b)" of a pixel, for readable failure messages.
std::string Rgb(QRgb pixel);
