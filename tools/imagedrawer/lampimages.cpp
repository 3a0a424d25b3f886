#include "lampimages.h"

#include "paintkit.h"

using namespace paintkit;

namespace {

const int LampSize = 20;
const QColor PanelGrey(240, 240, 240);

struct LampColours {
    QColor light;
    QColor body;
    QColor rim;
    QColor glow;  // halo around a lit lamp; invalid for a dark one
};

QImage drawLamp(const LampColours &colours)
{
    QImage image(LampSize, LampSize, QImage::Format_RGB32);
    image.fill(PanelGrey);
    QPainter painter(&image);
    prepare(painter);
    const QPointF centre(LampSize / 2.0, LampSize / 2.0);
    if (colours.glow.isValid()) {
        QRadialGradient halo(centre, 10);
        QColor inner = colours.glow;
        inner.setAlpha(110);
        QColor outer = colours.glow;
        outer.setAlpha(0);
        halo.setColorAt(0.6, inner);
        halo.setColorAt(1.0, outer);
        painter.setPen(Qt::NoPen);
        painter.setBrush(halo);
        painter.drawEllipse(centre, 10, 10);
    }
    // Dark metal bezel, then the lens.
    painter.setPen(Qt::NoPen);
    painter.setBrush(verticalGradient(QRectF(2, 2, 16, 16), QColor(90, 90, 96), QColor(190, 190, 196)));
    painter.drawEllipse(centre, 7.8, 7.8);
    painter.setBrush(ballGradient(centre, 7.5, colours.light, colours.body, colours.rim));
    painter.drawEllipse(centre, 6.4, 6.4);
    // Specular highlight.
    painter.setBrush(QColor(255, 255, 255, colours.glow.isValid() ? 200 : 120));
    painter.drawEllipse(QPointF(8.0, 7.4), 2.0, 1.5);
    return image;
}

} // namespace

QImage drawGreenLampImage()
{
    return drawLamp({QColor(200, 255, 190), QColor(40, 210, 40), QColor(0, 100, 0),
                     QColor(80, 230, 80)});
}

QImage drawRedLampImage()
{
    return drawLamp({QColor(255, 200, 190), QColor(235, 30, 20), QColor(110, 0, 0),
                     QColor(250, 70, 60)});
}

QImage drawDarkLampImage()
{
    return drawLamp({QColor(150, 152, 150), QColor(78, 82, 80), QColor(40, 42, 42), QColor()});
}
