#include "helpform.h"

#include "formstyle.h"
#include "glyphbutton.h"
#include "handlerguard.h"
#include "pictures.h"

#include <QBitmap>
#include <QImage>
#include <QRegion>
#include <QScrollBar>

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Form2"));
    // A fixed frame whose title bar carries only the close button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("Help"));
    formstyle::SetFixedClientArea(this, 520, 429);
    // Text drawn without smoothing, as the bitmap font of the layout is: smoothed edges
    // would hold pixels of the see-through grey and show holes in the letters.
    QFont font = formstyle::MsSansSerif(11);
    font.setStyleStrategy(QFont::NoAntialias);
    setFont(font);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(0, 0, 520, 377);
    QFont paneFont = formstyle::MsSansSerif(13);
    paneFont.setStyleStrategy(QFont::NoAntialias);
    Memo1->setFont(paneFont);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setPlainText(HelpLines().join(u'\n'));

    BitBtn1 = new TGlyphButton(PictureIcon(TPicture::ptCheck), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(232, 393, 75, 23);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { RunGuarded([this] { BitBtn1Click(BitBtn1); }); });
}

QStringList TForm2::HelpLines() {
    return {
        QStringLiteral(
            "Il faut d'abord choisir le port de communication pour le GPS et l'AIS en cliquant sur le "),
        QStringLiteral("bouton \"Select\" approprié, puis en choisissant le bon port RS-232 dans la liste."),
        QString(),
        QStringLiteral(
            "Le Port est ouvert dès que le voyant \"On\" passe au vert, le numéro de port est affiché "),
        QStringLiteral("en avant des paramètres de communication."),
        QString(),
        QStringLiteral(
            "Les paramètres de communication (vitesse, parité, databits et stopbit) sont fixes (4800 "),
        QStringLiteral("pour le GPS et 38400 pour l'AIS."),
        QString(),
        QStringLiteral("Les données s'afficheront au fur et à mesure de leur réception."),
        QString(),
        QStringLiteral("Un bouton permet de sauver le texte affiché dans une fenêtre (GPS ou AIS) dans un "),
        QStringLiteral("fichier avec extension TXT."),
        QString(),
        QString(),
        QString(),
        QStringLiteral(
            "Il faut éviter d'ouvrir le même port de communication pour l'AIS et le GPS (génère une "),
        QStringLiteral("erreur et nécessite de fermer et relancer l'application)."),
        QString(),
    };
}

void TForm2::ShowHelp() {
    show();
    raise();
    activateWindow();
}

void TForm2::BitBtn1Click(QObject*) {
    close();
}

void TForm2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!fPlaced) {
        fPlaced = true;
        formstyle::CentreOnScreen(this);
    }
    ApplyTransparentColor();
}

void TForm2::ApplyTransparentColor() {
    const QImage image = grab().toImage();
    const QImage holes = image.createMaskFromColor(TransparentColor().rgb(), Qt::MaskInColor);
    QRegion shape(QBitmap::fromImage(holes));
    // The window has no grey pixel unless its content changes; a full shape is no shape.
    if (shape == QRegion(rect()))
        clearMask();
    else
        setMask(shape);
}
