#include "paintkit.h"

#include <QPainterPath>

namespace paintkit {

QImage transparentCanvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

void prepare(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
}

QLinearGradient verticalGradient(const QRectF &rect, const QColor &top, const QColor &bottom)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(1.0, bottom);
    return gradient;
}

QRadialGradient ballGradient(const QPointF &centre, qreal radius, const QColor &light,
                             const QColor &body, const QColor &rim)
{
    const QPointF focus = centre - QPointF(radius * 0.35, radius * 0.4);
    QRadialGradient gradient(centre, radius, focus);
    gradient.setColorAt(0.0, light);
    gradient.setColorAt(0.55, body);
    gradient.setColorAt(1.0, rim);
    return gradient;
}

void drawGloss(QPainter &painter, const QRectF &rect, int alpha)
{
    painter.save();
    painter.setPen(Qt::NoPen);
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, QColor(255, 255, 255, alpha));
    gradient.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.setBrush(gradient);
    painter.drawEllipse(rect);
    painter.restore();
}

static void drawBadgeDisc(QPainter &painter, const QPointF &centre, qreal radius,
                          const QColor &light, const QColor &body, const QColor &rim)
{
    painter.setPen(QPen(Qt::white, radius * 0.18));
    painter.setBrush(ballGradient(centre, radius, light, body, rim));
    painter.drawEllipse(centre, radius, radius);
}

void drawTickBadge(QPainter &painter, const QPointF &centre, qreal radius)
{
    painter.save();
    drawBadgeDisc(painter, centre, radius, QColor(150, 235, 130), QColor(52, 168, 60),
                  QColor(24, 110, 36));
    QPainterPath tick;
    tick.moveTo(centre + QPointF(-radius * 0.45, 0.0));
    tick.lineTo(centre + QPointF(-radius * 0.1, radius * 0.38));
    tick.lineTo(centre + QPointF(radius * 0.5, -radius * 0.35));
    painter.setPen(QPen(Qt::white, radius * 0.26, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(tick);
    painter.restore();
}

void drawCrossBadge(QPainter &painter, const QPointF &centre, qreal radius)
{
    painter.save();
    drawBadgeDisc(painter, centre, radius, QColor(255, 150, 140), QColor(214, 48, 40),
                  QColor(140, 20, 16));
    const qreal arm = radius * 0.38;
    painter.setPen(QPen(Qt::white, radius * 0.26, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre + QPointF(-arm, -arm), centre + QPointF(arm, arm));
    painter.drawLine(centre + QPointF(-arm, arm), centre + QPointF(arm, -arm));
    painter.restore();
}

} // namespace paintkit
