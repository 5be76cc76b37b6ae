// TGraphicControl: the windowless control of the component model, as a QWidget.
//
// It gives the indicator controls what their drawing code expects of a graphic control:
// a Canvas valid during Paint (font and pen set from Font and FontColor), a caption, a
// Color (24-bit or system colour, see nrcolors.h) that may follow the parent's
// background, a loading state, the opaque style (whether the control covers all of its
// rectangle, so the parent need not draw beneath it), click and mouse events, and the
// notifications a descendant overrides (caption, colour, font, mouse enter and leave).
// Controls without double clicks receive a double click as a second single click.
//
// Threads: a widget; create, use and destroy it on the user-interface thread only.
#pragma once

#include "nrcolors.h"
#include "nrmethod.h"

#include <QPainter>
#include <QString>
#include <QWidget>

using TNotifyEvent = TMethod<void(QObject* Sender)>;
using TMouseEvent =
    TMethod<void(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)>;
using TMouseMoveEvent = TMethod<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

class TGraphicControl : public QWidget {
    Q_OBJECT
public:
    explicit TGraphicControl(QWidget* AOwner = nullptr);
    ~TGraphicControl() override;

    // Loading: the owner restoring stored properties calls BeginLoading, sets them, then
    // Loaded.
    bool IsLoading() const { return fLoading; }
    void BeginLoading() { fLoading = true; }
    virtual void Loaded();

    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    int Left() const { return x(); }
    int Top() const { return y(); }
    int Width() const { return width(); }
    int Height() const { return height(); }

    QString Caption() const { return fCaption; }
    void SetCaption(const QString& Value);

    // The colour as set; with ParentColor, the parent's background colour.
    TColor Color() const;
    void SetColor(TColor Value);
    bool ParentColor() const { return fParentColor; }
    void SetParentColor(bool Value);

    // Font is QWidget's font; its colour is kept here, as Qt fonts have none.
    TColor FontColor() const { return fFontColor; }
    void SetFontColor(TColor Value);

    QString Hint() const { return toolTip(); }
    void SetHint(const QString& Value) { setToolTip(Value); }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

protected:
    // Draws the control on Canvas(); called for every paint the window system or the
    // control asks for.
    virtual void Paint();
    // The painter of the paint in progress; null outside Paint.
    QPainter* Canvas() const { return fCanvas; }

    // Opaque controls cover their whole rectangle: Qt does not draw the parent beneath.
    bool IsOpaque() const { return testAttribute(Qt::WA_OpaquePaintEvent); }
    void SetOpaque(bool Value) { setAttribute(Qt::WA_OpaquePaintEvent, Value); }
    bool AcceptsDoubleClicks() const { return fDoubleClicks; }
    void SetAcceptsDoubleClicks(bool Value) { fDoubleClicks = Value; }

    virtual void CaptionChanged() { update(); }
    virtual void ColorChanged() { update(); }
    virtual void FontChanged() {}
    virtual void MouseEntered() {}
    virtual void MouseLeft() {}
    virtual void SystemColorsChanged() {}

    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    bool fLoading = false;
    QString fCaption;
    TColor fColor = clBtnFace;
    bool fParentColor = true;
    TColor fFontColor = clWindowText;
    bool fDoubleClicks = true;
    bool fPressed = false;
    QPainter* fCanvas = nullptr;
};
