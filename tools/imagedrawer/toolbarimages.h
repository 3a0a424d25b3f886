#pragma once

#include <QImage>

// Tool bar action icons, 128x128 with alpha.
QImage drawConnectImage();
QImage drawDisconnectImage();
QImage drawAboutImage();
