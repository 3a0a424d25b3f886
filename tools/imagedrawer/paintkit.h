#pragma once

#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

// Small drawing helpers shared by the image sets.
namespace paintkit {

// A transparent square canvas for icons.
QImage transparentCanvas(int size);

// Sets antialiasing and smooth transforms on a painter.
void prepare(QPainter &painter);

QLinearGradient verticalGradient(const QRectF &rect, const QColor &top, const QColor &bottom);

// A ball lit from the upper left: light centre, body colour, dark rim.
QRadialGradient ballGradient(const QPointF &centre, qreal radius, const QColor &light,
                             const QColor &body, const QColor &rim);

// A soft white reflection on the upper part of a shape.
void drawGloss(QPainter &painter, const QRectF &rect, int alpha);

// A small round badge (green tick or red cross) for status overlays.
void drawTickBadge(QPainter &painter, const QPointF &centre, qreal radius);
void drawCrossBadge(QPainter &painter, const QPointF &centre, qreal radius);

} // namespace paintkit
