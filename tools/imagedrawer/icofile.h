#pragma once

#include <QByteArray>
#include <QImage>
#include <QVector>

// Encodes square images into a Windows icon file. Images of 256 pixels are
// stored as PNG; smaller ones as 32-bit bitmaps with alpha and an AND mask.
// Returns an empty array when an image cannot be encoded.
QByteArray encodeIcoFile(const QVector<QImage> &images);
