#pragma once

#include <QImage>

// Icons of the log page buttons, with alpha.
QImage drawStartImage();        // 128x128, red record dot
QImage drawStopImage();         // 128x128, stop square
QImage drawClearImage();        // 96x96, eraser
QImage drawSaveAsImage();       // 96x96, floppy disk with a pencil
QImage drawLogSettingsImage();  // 256x256, script page with a gear
