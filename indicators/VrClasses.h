// TVrPersistent: a small persistent object with change notification.
// TVrPalette: the two colours of an LED glyph, and the recolouring of a glyph bitmap.
//
// Changes: BeginUpdate/EndUpdate nest; Changed raises OnChange only when no update is
// open, and EndUpdate always ends with Changed, so a batch of changes gives one OnChange.
//
// Threads: user-interface thread only (palettes resolve system colours when
// recolouring).
#pragma once

#include "nrcolors.h"
#include "nrgraphiccontrol.h"

#include <QImage>
#include <QObject>

class TVrPersistent : public QObject {
    Q_OBJECT
public:
    explicit TVrPersistent(QObject* AOwner = nullptr);
    ~TVrPersistent() override;

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    TNotifyEvent OnChange;

protected:
    virtual void Changed();

private:
    int FUpdateCount = 0;
};

class TVrPalette : public TVrPersistent {
    Q_OBJECT
public:
    explicit TVrPalette(QObject* AOwner = nullptr);
    ~TVrPalette() override;

    TColor Low() const { return FLow; }
    void SetLow(TColor Value);
    TColor High() const { return FHigh; }
    void SetHigh(TColor Value);

    // From another palette: both colours and exactly one OnChange, changed or not.
    // Any other source (or none) raises ENrException.
    virtual void Assign(const QObject* Source);

    // Low for an Index of 0 or less, High otherwise.
    virtual TColor GetColors(int Index) const;

    // Recolours Bitmap in place: pixels equal to DarkColor become Low and pixels equal
    // to LightColor become High. Both sets are found in the untouched bitmap, so a pixel
    // painted Low is never repainted High, even when Low equals LightColor.
    void ToBMP(QImage& Bitmap, TColor DarkColor, TColor LightColor) const;

private:
    TColor FLow = clGreen;
    TColor FHigh = clLime;
};
