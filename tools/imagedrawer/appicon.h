#pragma once

#include <QImage>

// The application icon at a given square size, with alpha: the front panel
// of a bench supply with its display, knob and output terminals. Each size
// is drawn directly, not scaled from a larger picture, so small sizes stay sharp.
QImage drawAppIcon(int size);
