// The scroll bars of a channel pane.
#pragma once

#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <optional>

// the pane's range, which after the first screenful mostly leaves the thumb on the same
// pixels, and a scroll bar is dearer to paint than the line itself.
class TPaneScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

    // Makes several changes (range, steps, value) and repaints once if the result looks
    // different: raising the maximum before the value moves the thumb for a moment only.
    template <class F> void ChangeTogether(F&& changes) {
        fHeld = true;
        changes();
        fHeld = false;
        if (Changed()) QScrollBar::sliderChange(SliderValueChange);
    }

protected:
    void sliderChange(SliderChange change) override {
        if (fHeld || !Changed()) return;
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* event) override {
        fPainted = Look();
        QScrollBar::paintEvent(event);
    }

private:
    // What range and value changes alter in a painted scroll bar; hover, press, focus,
    // size and style changes repaint it through their own events.
    struct TLook {
        QRect thumb;
        bool atMinimum;
        bool atMaximum;
        friend bool operator==(const TLook&, const TLook&) = default;
    };
    TLook Look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return TLook{style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                     value() == minimum(), value() == maximum()};
    }
    bool Changed() const {
        // A transient scroll bar shows itself on every change: leave that kind alone.
        return !fPainted || style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, this) ||
               Look() != *fPainted;
    }

    std::optional<TLook> fPainted;
    bool fHeld = false;
};

// The scroll area lays its scroll bars out anew at every range change, and that repaints
