#include "pictures.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

const QColor kGreen(0, 150, 0);
const QColor kRed(210, 0, 0);
const QColor kOutline(40, 40, 40);

void DrawCheck(QPainter& p, QPointF offset, qreal width) {
    QPen pen(kGreen, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    const QPointF points[] = {offset + QPointF(0, 5), offset + QPointF(3, 8.5), offset + QPointF(9, 0)};
    p.drawPolyline(points, 3);
}

void DrawGear(QPainter& p, QPointF centre, qreal radius, int teeth, const QColor& colour) {
    QPainterPath gear;
    const qreal inner = radius * 0.72;
    for (int i = 0; i < teeth * 2; ++i) {
        // Alternate tooth tips and roots, two corners each, around the wheel.
        const qreal r = (i % 2 == 0) ? radius : inner;
        for (int corner = 0; corner < 2; ++corner) {
            const qreal angle = (i + corner * 0.9) * M_PI / teeth;
            const QPointF pt = centre + QPointF(r * qCos(angle), r * qSin(angle));
            if (i == 0 && corner == 0)
                gear.moveTo(pt);
            else
                gear.lineTo(pt);
        }
    }
    gear.closeSubpath();
    gear.addEllipse(centre, radius * 0.3, radius * 0.3);
    gear.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(colour);
    p.drawPath(gear);
}

void DrawArrowHead(QPainter& p, QPointF tip, qreal angle) {
    // A small filled triangle pointing along `angle` (radians).
    const qreal size = 3.6;
    const QPointF back = tip - QPointF(size * qCos(angle), size * qSin(angle));
    const QPointF side(size * 0.6 * -qSin(angle), size * 0.6 * qCos(angle));
    const QPointF points[] = {tip, back + side, back - side};
    p.drawPolygon(points, 3);
}

void Paint(QPainter& p, TPicture picture) {
    switch (picture) {
    case TPicture::ptHelpBook: {
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(QColor(235, 235, 225));
        p.drawRect(QRectF(3.5, 2.5, 10, 12)); // pages
        p.setBrush(QColor(30, 60, 160));
        p.drawRect(QRectF(2.5, 1.5, 10, 12)); // cover
        p.setPen(QPen(QColor(200, 200, 220), 1));
        p.drawLine(QPointF(4, 2), QPointF(4, 13)); // spine
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPixelSize(11);
        font.setBold(true);
        p.setFont(font);
        p.setPen(kRed);
        p.drawText(QRectF(4, 1.5, 9, 12), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case TPicture::ptGears:
        DrawGear(p, QPointF(6, 6), 5.5, 8, QColor(150, 150, 160));
        DrawGear(p, QPointF(11.5, 11.5), 4, 6, QColor(190, 170, 90));
        break;
    case TPicture::ptDoubleCheck:
        DrawCheck(p, QPointF(1.5, 3), 2.0);
        DrawCheck(p, QPointF(5.5, 3), 2.0);
        break;
    case TPicture::ptCheck:
        DrawCheck(p, QPointF(3, 3.5), 2.4);
        break;
    case TPicture::ptCross:
        p.setPen(QPen(kRed, 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        break;
    case TPicture::ptSaveToDisk: {
        // The page, top left, with a dog-ear.
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(Qt::white);
        const QPointF page[] = {{0.5, 0.5}, {5.5, 0.5}, {7.5, 2.5}, {7.5, 9.5}, {0.5, 9.5}};
        p.drawPolygon(page, 5);
        p.setPen(QPen(QColor(120, 120, 120), 0.8));
        for (qreal y = 3.5; y < 9; y += 2)
            p.drawLine(QPointF(2, y), QPointF(6, y));
        // The disk, bottom right.
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(QColor(40, 70, 170));
        p.drawRect(QRectF(8.5, 7.5, 7, 8));
        p.setBrush(QColor(220, 220, 220));
        p.drawRect(QRectF(10, 7.5, 4, 3)); // shutter
        p.setBrush(Qt::white);
        p.drawRect(QRectF(9.5, 12, 5, 3.5)); // label
        // The red arrow from the page down to the disk.
        p.setPen(QPen(kRed, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(5, 11), QPointF(8, 13.5));
        p.setPen(Qt::NoPen);
        p.setBrush(kRed);
        DrawArrowHead(p, QPointF(9.5, 14.5), qAtan2(2.5, 3));
        break;
    }
    case TPicture::ptDoor:
        p.setPen(QPen(kOutline, 0.8));
        p.setBrush(QColor(230, 230, 230));
        p.drawRect(QRectF(2.5, 0.5, 11, 15)); // frame and opening
        p.setBrush(QColor(200, 20, 20));
        {
            // The door stands half open, hinged on the left.
            const QPointF leaf[] = {{2.5, 0.5}, {10.5, 2.5}, {10.5, 15.5}, {2.5, 15.5}};
            p.drawPolygon(leaf, 4);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 220, 60));
        p.drawEllipse(QPointF(8.8, 9), 1, 1); // knob
        break;
    case TPicture::ptCirclingArrows: {
        QPen pen(kGreen, 1.8, Qt::SolidLine, Qt::FlatCap);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        const QRectF circle(2.5, 2.5, 11, 11);
        // Two arcs of about 130 degrees each, leaving gaps for the heads.
        p.drawArc(circle, 20 * 16, 130 * 16);
        p.drawArc(circle, 200 * 16, 130 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        const QPointF centre = circle.center();
        const qreal r = circle.width() / 2;
        for (const qreal endDeg : {150.0, 330.0}) {
            const qreal a = qDegreesToRadians(endDeg);
            // Qt's angles run counter-clockwise with y pointing down.
            const QPointF tip = centre + QPointF(r * qCos(a), -r * qSin(a));
            DrawArrowHead(p, tip + QPointF(-1.8 * qSin(a), -1.8 * qCos(a)), qAtan2(-qCos(a), -qSin(a)));
        }
        break;
    }
    }
}

} // namespace

QPixmap DrawPicture(TPicture picture) {
    QImage image(kPictureSize, kPictureSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    Paint(p, picture);
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap GreyedPicture(const QPixmap& picture) {
    QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = qGray(line[x]);
            // Lighter grey, half way to white, so the picture reads as unavailable.
            const int light = (grey + 255 * 2) / 3;
            line[x] = qRgba(light, light, light, qAlpha(line[x]));
        }
    }
    return QPixmap::fromImage(image);
}

QIcon PictureIcon(TPicture picture) {
    const QPixmap normal = DrawPicture(picture);
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(normal, QIcon::Active);
    icon.addPixmap(GreyedPicture(normal), QIcon::Disabled);
    return icon;
}
