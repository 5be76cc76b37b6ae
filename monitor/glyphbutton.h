// TGlyphButton: a push button with a picture left of its caption, the pair centred, and a
// chosen gap between them (the toolkit's own gap is fixed by the style).
//
// Threads: user-interface thread only.
#pragma once

#include <QPushButton>

class TGlyphButton : public QPushButton {
    Q_OBJECT
public:
    TGlyphButton(const QIcon& glyph, const QString& caption, QWidget* parent);

    // Pixels between the picture and the caption.
    int Spacing() const { return fSpacing; }
    void SetSpacing(int value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int fSpacing = 4;
};
