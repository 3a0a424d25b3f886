#include "logbuttonimages.h"

#include "paintkit.h"

#include <QPainterPath>
#include <QtMath>

using namespace paintkit;

namespace {

void drawShadowEllipse(QPainter &painter, const QPointF &centre, qreal rx, qreal ry)
{
    QRadialGradient shadow(centre, rx);
    shadow.setColorAt(0.0, QColor(0, 0, 0, 70));
    shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.translate(centre);
    painter.scale(1.0, ry / rx);
    painter.drawEllipse(QPointF(0, 0), rx, rx);
    painter.restore();
}

// A gear with the given number of teeth, drawn around the painter's origin.
QPainterPath gearPath(qreal outer, qreal inner, qreal hole, int teeth)
{
    QPainterPath path;
    const qreal step = 2 * M_PI / teeth;
    for (int i = 0; i < teeth; ++i) {
        const qreal a = i * step;
        const qreal pts[][2] = {{a - step * 0.25, inner}, {a - step * 0.15, outer},
                                {a + step * 0.15, outer}, {a + step * 0.25, inner}};
        for (const auto &p : pts) {
            const QPointF point(p[1] * qCos(p[0]), p[1] * qSin(p[0]));
            if (i == 0 && &p == &pts[0])
                path.moveTo(point);
            else
                path.lineTo(point);
        }
    }
    path.closeSubpath();
    path.addEllipse(QPointF(0, 0), hole, hole);
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

} // namespace

QImage drawStartImage()
{
    QImage image = transparentCanvas(128);
    QPainter painter(&image);
    prepare(painter);
    const QPointF centre(64, 62);
    drawShadowEllipse(painter, QPointF(64, 114), 44, 9);
    painter.setPen(QPen(QColor(110, 10, 10), 2.5));
    painter.setBrush(ballGradient(centre, 56, QColor(255, 150, 140), QColor(222, 28, 28),
                                  QColor(120, 0, 0)));
    painter.drawEllipse(centre, 50, 50);
    drawGloss(painter, QRectF(30, 16, 68, 42), 170);
    return image;
}

QImage drawStopImage()
{
    QImage image = transparentCanvas(128);
    QPainter painter(&image);
    prepare(painter);
    drawShadowEllipse(painter, QPointF(64, 114), 46, 8);
    const QRectF square(18, 16, 92, 92);
    painter.setPen(QPen(QColor(24, 28, 36), 2.5));
    QLinearGradient body(square.topLeft(), square.bottomRight());
    body.setColorAt(0.0, QColor(120, 132, 150));
    body.setColorAt(0.5, QColor(62, 72, 88));
    body.setColorAt(1.0, QColor(30, 36, 46));
    painter.setBrush(body);
    painter.drawRoundedRect(square, 14, 14);
    // Inner bevel and a reflection on the upper half.
    painter.setPen(QPen(QColor(255, 255, 255, 70), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(square.adjusted(5, 5, -5, -5), 10, 10);
    painter.setPen(Qt::NoPen);
    painter.setBrush(verticalGradient(QRectF(24, 21, 80, 42), QColor(255, 255, 255, 110),
                                      QColor(255, 255, 255, 0)));
    painter.drawRoundedRect(QRectF(24, 21, 80, 42), 10, 10);
    return image;
}

QImage drawClearImage()
{
    QImage image = transparentCanvas(96);
    QPainter painter(&image);
    prepare(painter);
    // Crumbs and the swept line left behind.
    painter.setPen(QPen(QColor(150, 150, 160), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(10, 84), QPointF(52, 84));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(232, 140, 170));
    for (const QPointF &crumb : {QPointF(14, 76), QPointF(22, 79), QPointF(9, 70)})
        painter.drawEllipse(crumb, 2.2, 2.2);

    painter.translate(54, 48);
    painter.rotate(-40);
    const QRectF rubber(-34, -14, 30, 28);
    const QRectF sleeve(-6, -14, 42, 28);
    painter.setPen(QPen(QColor(120, 40, 70), 2));
    painter.setBrush(verticalGradient(rubber, QColor(255, 196, 214), QColor(214, 80, 124)));
    painter.drawRoundedRect(rubber, 5, 5);
    painter.setPen(QPen(QColor(30, 60, 110), 2));
    painter.setBrush(verticalGradient(sleeve, QColor(150, 196, 250), QColor(36, 96, 180)));
    painter.drawRoundedRect(sleeve, 5, 5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 90));
    painter.drawRoundedRect(QRectF(-32, -12, 66, 9), 4, 4);
    return image;
}

QImage drawSaveAsImage()
{
    QImage image = transparentCanvas(96);
    QPainter painter(&image);
    prepare(painter);
    // Disk body with its top right corner cut.
    QPainterPath body;
    body.moveTo(10, 14);
    body.lineTo(68, 14);
    body.lineTo(80, 26);
    body.lineTo(80, 80);
    body.quadTo(80, 84, 76, 84);
    body.lineTo(14, 84);
    body.quadTo(10, 84, 10, 80);
    body.closeSubpath();
    painter.setPen(QPen(QColor(16, 44, 92), 2));
    painter.setBrush(verticalGradient(QRectF(10, 14, 70, 70), QColor(92, 150, 226),
                                      QColor(28, 74, 150)));
    painter.drawPath(body);
    // Metal shutter with its window.
    const QRectF shutter(24, 14, 38, 24);
    painter.setPen(QPen(QColor(90, 96, 104), 1.5));
    painter.setBrush(verticalGradient(shutter, QColor(236, 238, 242), QColor(160, 166, 176)));
    painter.drawRect(shutter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 60, 96));
    painter.drawRect(QRectF(48, 18, 8, 16));
    // Paper label with writing lines.
    const QRectF label(18, 48, 54, 36);
    painter.setPen(QPen(QColor(150, 160, 170), 1));
    painter.setBrush(verticalGradient(label, Qt::white, QColor(222, 226, 232)));
    painter.drawRoundedRect(label, 3, 3);
    painter.setPen(QPen(QColor(150, 170, 200), 2));
    for (qreal y : {58.0, 66.0, 74.0})
        painter.drawLine(QPointF(24, y), QPointF(66, y));
    // A pencil across the lower right corner: "save under a new name".
    painter.translate(70, 66);
    painter.rotate(-45);
    const QRectF shaft(-6, -26, 12, 36);
    painter.setPen(QPen(QColor(120, 80, 10), 1.5));
    painter.setBrush(verticalGradient(shaft, QColor(255, 220, 90), QColor(230, 150, 20)));
    painter.drawRect(shaft);
    painter.setBrush(QColor(240, 140, 160));
    painter.drawRoundedRect(QRectF(-6, -32, 12, 7), 2, 2);
    QPainterPath tip;
    tip.moveTo(-6, 10);
    tip.lineTo(6, 10);
    tip.lineTo(0, 22);
    tip.closeSubpath();
    painter.setBrush(QColor(240, 214, 170));
    painter.drawPath(tip);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(50, 50, 50));
    QPainterPath lead;
    lead.moveTo(-2, 18);
    lead.lineTo(2, 18);
    lead.lineTo(0, 22);
    lead.closeSubpath();
    painter.drawPath(lead);
    return image;
}

QImage drawLogSettingsImage()
{
    QImage image = transparentCanvas(256);
    QPainter painter(&image);
    prepare(painter);
    // Page with a folded corner.
    QPainterPath page;
    page.moveTo(40, 16);
    page.lineTo(160, 16);
    page.lineTo(208, 64);
    page.lineTo(208, 228);
    page.lineTo(40, 228);
    page.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 45));
    painter.drawPath(page.translated(5, 6));
    painter.setPen(QPen(QColor(120, 128, 140), 3));
    painter.setBrush(verticalGradient(QRectF(40, 16, 168, 212), Qt::white, QColor(226, 230, 238)));
    painter.drawPath(page);
    QPainterPath fold;
    fold.moveTo(160, 16);
    fold.lineTo(160, 64);
    fold.lineTo(208, 64);
    fold.closeSubpath();
    painter.setBrush(verticalGradient(QRectF(160, 16, 48, 48), QColor(250, 250, 252), QColor(190, 196, 206)));
    painter.drawPath(fold);
    // Lines of a script, indented and coloured like code.
    struct Line { qreal indent; qreal length; QColor colour; };
    const Line lines[] = {{0, 70, QColor(60, 120, 200)}, {16, 90, QColor(90, 90, 100)},
                          {16, 60, QColor(200, 110, 40)}, {32, 70, QColor(90, 90, 100)},
                          {16, 40, QColor(60, 150, 80)}, {0, 50, QColor(60, 120, 200)}};
    qreal y = 52;
    for (const Line &line : lines) {
        painter.setPen(QPen(line.colour, 9, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(62 + line.indent, y), QPointF(62 + line.indent + line.length, y));
        y += 22;
    }
    // Gear over the lower right corner.
    painter.translate(176, 184);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 55));
    painter.drawPath(gearPath(62, 50, 18, 10).translated(4, 5));
    painter.setPen(QPen(QColor(40, 46, 56), 3));
    painter.setBrush(ballGradient(QPointF(0, 0), 70, QColor(210, 216, 226), QColor(120, 130, 146),
                                  QColor(60, 68, 82)));
    painter.drawPath(gearPath(62, 50, 18, 10));
    painter.setPen(QPen(QColor(255, 255, 255, 90), 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(0, 0), 36, 36);
    return image;
}
