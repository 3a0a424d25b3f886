#include "toolbarimages.h"

#include "paintkit.h"

using namespace paintkit;

namespace {

const int ImageSize = 128;
const qreal Axis = 64.0;  // the plug and socket lie along y = Axis before tilting

const QColor CableColour(58, 62, 70);
const QColor OutlineColour(70, 76, 86);

QLinearGradient bodyGradient(const QRectF &body)
{
    return verticalGradient(body, QColor(246, 248, 250), QColor(150, 158, 168));
}

void drawCable(QPainter &painter, qreal from, qreal to)
{
    painter.setPen(QPen(CableColour, 11, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(from, Axis), QPointF(to, Axis));
    painter.setPen(QPen(QColor(255, 255, 255, 60), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(from, Axis - 2.5), QPointF(to, Axis - 2.5));
}

void drawBody(QPainter &painter, const QRectF &body)
{
    painter.setPen(QPen(OutlineColour, 2));
    painter.setBrush(bodyGradient(body));
    painter.drawRoundedRect(body, 8, 8);
    drawGloss(painter, body.adjusted(4, 2, -4, -body.height() * 0.5), 150);
}

// A plug whose front face is at x = front, prongs pointing to +x.
void drawPlug(QPainter &painter, qreal front)
{
    drawCable(painter, front - 64, front - 30);
    for (qreal y : {Axis - 13.0, Axis + 6.0}) {
        const QRectF prong(front - 2, y, 20, 7);
        painter.setPen(QPen(QColor(120, 92, 30), 1));
        painter.setBrush(verticalGradient(prong, QColor(255, 232, 150), QColor(190, 140, 40)));
        painter.drawRoundedRect(prong, 2, 2);
    }
    const QRectF body(front - 36, Axis - 23, 36, 46);
    drawBody(painter, body);
    painter.setPen(QPen(QColor(110, 118, 128), 2, Qt::SolidLine, Qt::RoundCap));
    for (qreal x : {front - 27.0, front - 21.0, front - 15.0})
        painter.drawLine(QPointF(x, Axis - 13), QPointF(x, Axis + 13));
}

// A socket whose front face is at x = front, open towards -x.
void drawSocket(QPainter &painter, qreal front, bool showHoles)
{
    drawCable(painter, front + 30, front + 64);
    const QRectF body(front, Axis - 23, 36, 46);
    drawBody(painter, body);
    if (!showHoles)
        return;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 44, 50));
    for (qreal y : {Axis - 13.0, Axis + 6.0})
        painter.drawRoundedRect(QRectF(front + 3, y, 8, 7), 2, 2);
}

void tilt(QPainter &painter)
{
    painter.translate(ImageSize / 2.0, ImageSize / 2.0);
    painter.rotate(-45);
    painter.translate(-ImageSize / 2.0, -ImageSize / 2.0);
}

} // namespace

QImage drawConnectImage()
{
    QImage image = transparentCanvas(ImageSize);
    QPainter painter(&image);
    prepare(painter);
    painter.save();
    tilt(painter);
    drawPlug(painter, 60);
    drawSocket(painter, 60, false);
    painter.restore();
    drawTickBadge(painter, QPointF(100, 100), 22);
    return image;
}

QImage drawDisconnectImage()
{
    QImage image = transparentCanvas(ImageSize);
    QPainter painter(&image);
    prepare(painter);
    painter.save();
    tilt(painter);
    drawPlug(painter, 44);
    drawSocket(painter, 80, true);
    painter.restore();
    drawCrossBadge(painter, QPointF(100, 100), 22);
    return image;
}

QImage drawAboutImage()
{
    QImage image = transparentCanvas(ImageSize);
    QPainter painter(&image);
    prepare(painter);
    const QPointF centre(64, 64);
    // Drop shadow, then the disc with a white rim.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 50));
    painter.drawEllipse(centre + QPointF(2, 4), 56, 56);
    painter.setPen(QPen(Qt::white, 6));
    painter.setBrush(ballGradient(centre, 58, QColor(130, 190, 255), QColor(40, 120, 220),
                                  QColor(16, 62, 140)));
    painter.drawEllipse(centre, 55, 55);
    drawGloss(painter, QRectF(24, 14, 80, 50), 140);
    // The letter i: a dot and a stem with a small foot.
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(64, 37), 10, 10);
    painter.drawRoundedRect(QRectF(55, 54, 18, 46), 4, 4);
    painter.drawRoundedRect(QRectF(49, 54, 24, 9), 3, 3);
    painter.drawRoundedRect(QRectF(47, 92, 34, 9), 3, 3);
    return image;
}
