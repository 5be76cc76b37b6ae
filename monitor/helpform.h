// TForm2: the help window, a fixed text and an OK button. Created hidden at start-up and
// kept until the program ends; the main window shows it without waiting.
//
// It stays above the other windows of the desktop while shown, and pixels of the exact
// grey (128, 128, 128) are see-through: the window's shape leaves them out.
//
// Threads: user-interface thread only.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QWidget>

class TGlyphButton;

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    // The 19 lines of the help text.
    static QStringList HelpLines();

    // Shows the window, or brings it to the front when it is already shown.
    void ShowHelp();

    // The colour that is see-through.
    static QColor TransparentColor() { return QColor(128, 128, 128); }

    QPlainTextEdit* Memo1;
    TGlyphButton* BitBtn1;

    void BitBtn1Click(QObject* Sender);

    // Recomputes the window's shape from what it shows (done each time it is shown).
    void ApplyTransparentColor();

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool fPlaced = false;
};
