#include "formstyle.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>

namespace formstyle {

void InstallFontSubstitutions() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
    QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
}

QFont PixelFont(const QString& family, int pixelHeight, bool bold, bool italic, bool underline) {
    InstallFontSubstitutions();
    QFont font(family);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    return font;
}

void SetFixedClientArea(QWidget* window, int width, int height) {
    window->setFixedSize(width, height);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
}

void CentreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void CentreOn(QWidget* window, const QWidget* on) {
    if (!on || !on->isVisible()) {
        CentreOnScreen(window);
        return;
    }
    QRect frame = window->frameGeometry();
    frame.moveCenter(on->frameGeometry().center());
    window->move(frame.topLeft());
}

} // namespace formstyle

TAutoSizeLabel::TAutoSizeLabel(const QString& caption, QWidget* parent, int left, int top) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setMargin(0);
    move(left, top);
    SetCaption(caption);
}

void TAutoSizeLabel::SetCaption(const QString& caption) {
    setText(caption);
    resize(sizeHint());
}
