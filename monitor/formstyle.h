// The look shared by the program's windows: the fonts named by the layout, the colours,
// the fixed-frame window set-up, and labels that grow with their text.
//
// The layout names Windows fonts; "Arial" and "Courier New" resolve to their Liberation
// twins through fontconfig, and "MS Sans Serif" (a bitmap font there) is mapped to
// Liberation Sans here as well, so every machine shows the same metrics.
//
// Threads: user-interface thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QWidget>

namespace formstyle {

inline const QColor clMaroon{128, 0, 0};
inline const QColor clRed{255, 0, 0};
inline const QColor clGreen{0, 128, 0};
inline const QColor clLime{0, 255, 0};
inline const QColor clBlack{0, 0, 0};
inline const QColor clWhite{255, 255, 255};

// Maps the layout's font names to installed fonts; safe to call more than once.
void InstallFontSubstitutions();

// A font by family and character height in pixels.
QFont PixelFont(const QString& family, int pixelHeight, bool bold = false, bool italic = false,
                bool underline = false);
inline QFont MsSansSerif(int pixelHeight) {
    return PixelFont(QStringLiteral("MS Sans Serif"), pixelHeight);
}

// A window with a fixed client area and the button-face background of the desktop.
void SetFixedClientArea(QWidget* window, int width, int height);

// Centres a top-level window on the screen it is on, or on another window.
void CentreOnScreen(QWidget* window);
void CentreOn(QWidget* window, const QWidget* on);

} // namespace formstyle

// A label that keeps its left and top and grows or shrinks with its text, as the
// layout's auto-sized labels do.
class TAutoSizeLabel : public QLabel {
    Q_OBJECT
public:
    TAutoSizeLabel(const QString& caption, QWidget* parent, int left, int top);
    void SetCaption(const QString& caption);
    QString Caption() const { return text(); }
};
