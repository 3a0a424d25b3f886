#pragma once

#include <QImage>

// Indicator lamps, 20x20 without alpha: drawn on the panel's grey so they
// blend with the window behind them.
QImage drawGreenLampImage();
QImage drawRedLampImage();
QImage drawDarkLampImage();
