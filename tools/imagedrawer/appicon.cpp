#include "appicon.h"

#include "paintkit.h"

#include <QPainterPath>

using namespace paintkit;

namespace {

// Segments a..g of a seven-segment digit, by bit.
const quint8 DigitSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// One digit of width w and height h with its top left corner at origin.
void drawDigit(QPainter &painter, const QPointF &origin, qreal w, qreal h, int digit)
{
    const qreal t = w * 0.22;  // segment thickness
    const qreal half = h / 2.0;
    const QRectF segments[7] = {
        {origin.x() + t * 0.5, origin.y(), w - t, t},                          // a
        {origin.x() + w - t, origin.y() + t * 0.5, t, half - t * 0.5},         // b
        {origin.x() + w - t, origin.y() + half, t, half - t * 0.5},            // c
        {origin.x() + t * 0.5, origin.y() + h - t, w - t, t},                  // d
        {origin.x(), origin.y() + half, t, half - t * 0.5},                    // e
        {origin.x(), origin.y() + t * 0.5, t, half - t * 0.5},                 // f
        {origin.x() + t * 0.5, origin.y() + half - t * 0.5, w - t, t},         // g
    };
    for (int s = 0; s < 7; ++s) {
        const bool lit = DigitSegments[digit] & (1 << s);
        painter.setBrush(lit ? QColor(110, 255, 120) : QColor(30, 70, 40));
        painter.drawRoundedRect(segments[s], t * 0.4, t * 0.4);
    }
}

void drawTerminal(QPainter &painter, const QPointF &centre, const QColor &light,
                  const QColor &body, const QColor &rim)
{
    painter.setPen(QPen(QColor(40, 40, 44), 2));
    painter.setBrush(ballGradient(centre, 24, light, body, rim));
    painter.drawEllipse(centre, 20, 20);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 170, 80));
    painter.drawEllipse(centre, 6, 6);
}

} // namespace

QImage drawAppIcon(int size)
{
    QImage image = transparentCanvas(size);
    QPainter painter(&image);
    prepare(painter);
    painter.scale(size / 256.0, size / 256.0);
    const bool small = size < 48;

    // Case: shadow, silver front, dark frame.
    const QRectF front(12, 36, 232, 184);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 60));
    painter.drawRoundedRect(front.translated(4, 8), 24, 24);
    painter.setPen(QPen(QColor(50, 56, 64), small ? 10 : 5));
    painter.setBrush(verticalGradient(front, QColor(236, 240, 244), QColor(150, 158, 170)));
    painter.drawRoundedRect(front, 24, 24);

    // Display window with three digits and a decimal point: "12.5".
    const QRectF display(32, 56, 132, 80);
    painter.setPen(QPen(QColor(30, 34, 40), 4));
    painter.setBrush(verticalGradient(display, QColor(20, 40, 28), QColor(8, 18, 12)));
    painter.drawRoundedRect(display, 8, 8);
    painter.setPen(Qt::NoPen);
    if (small) {
        painter.setBrush(QColor(110, 255, 120));
        painter.drawRoundedRect(display.adjusted(16, 24, -16, -24), 6, 6);
    } else {
        drawDigit(painter, QPointF(44, 68), 30, 56, 1);
        drawDigit(painter, QPointF(82, 68), 30, 56, 2);
        painter.setBrush(QColor(110, 255, 120));
        painter.drawEllipse(QPointF(118, 120), 4.5, 4.5);
        drawDigit(painter, QPointF(124, 68), 30, 56, 5);
    }
    drawGloss(painter, QRectF(36, 58, 124, 36), 60);

    // Adjustment knob with its pointer.
    const QPointF knob(204, 96);
    painter.setPen(QPen(QColor(30, 32, 36), 3));
    painter.setBrush(ballGradient(knob, 34, QColor(120, 126, 136), QColor(52, 56, 64), QColor(20, 22, 26)));
    painter.drawEllipse(knob, 26, 26);
    painter.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(knob, knob + QPointF(12, -14));

    // Output terminals, red and black, and the power switch.
    drawTerminal(painter, QPointF(60, 180), QColor(255, 150, 140), QColor(214, 30, 24), QColor(110, 0, 0));
    drawTerminal(painter, QPointF(120, 180), QColor(130, 130, 136), QColor(40, 40, 44), QColor(10, 10, 12));
    const QRectF power(176, 164, 44, 32);
    painter.setPen(QPen(QColor(30, 80, 30), 2));
    painter.setBrush(verticalGradient(power, QColor(150, 230, 140), QColor(40, 150, 50)));
    painter.drawRoundedRect(power, 6, 6);
    return image;
}
