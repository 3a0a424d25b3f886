#include "icofile.h"

#include <QBuffer>
#include <QDataStream>

namespace {

const int IconDirSize = 6;
const int IconDirEntrySize = 16;
const int BitmapHeaderSize = 40;

QByteArray encodePng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return QByteArray();
    return bytes;
}

// BITMAPINFOHEADER with the height doubled for the AND mask, bottom-up BGRA
// rows, then the 1-bit mask (set where fully transparent), rows padded to
// 32 bits.
QByteArray encodeBitmap(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width();
    const int h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint32(BitmapHeaderSize) << qint32(w) << qint32(2 * h) << quint16(1) << quint16(32)
        << quint32(0) << quint32(w * h * 4 + maskStride * h) << qint32(0) << qint32(0)
        << quint32(0) << quint32(0);
    for (int y = h - 1; y >= 0; --y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            out << quint8(qBlue(row[x])) << quint8(qGreen(row[x])) << quint8(qRed(row[x]))
                << quint8(qAlpha(row[x]));
    }
    for (int y = h - 1; y >= 0; --y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        QByteArray mask(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) == 0)
                mask[x / 8] = char(mask.at(x / 8) | (0x80 >> (x % 8)));
        }
        out.writeRawData(mask.constData(), mask.size());
    }
    return bytes;
}

} // namespace

QByteArray encodeIcoFile(const QVector<QImage> &images)
{
    QVector<QByteArray> payloads;
    for (const QImage &image : images) {
        if (image.isNull() || image.width() != image.height() || image.width() > 256)
            return QByteArray();
        const QByteArray payload = image.width() == 256 ? encodePng(image) : encodeBitmap(image);
        if (payload.isEmpty())
            return QByteArray();
        payloads.append(payload);
    }

    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = IconDirSize + IconDirEntrySize * images.size();
    for (int i = 0; i < images.size(); ++i) {
        const int side = images.at(i).width();
        const quint8 dimension = side == 256 ? 0 : quint8(side);  // 0 stands for 256
        out << dimension << dimension << quint8(0) << quint8(0) << quint16(1) << quint16(32)
            << quint32(payloads.at(i).size()) << offset;
        offset += quint32(payloads.at(i).size());
    }
    for (const QByteArray &payload : payloads)
        out.writeRawData(payload.constData(), payload.size());
    return bytes;
}
