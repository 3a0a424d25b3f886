#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QResource>
#include <QtEndian>

namespace {

const QString ImageRoot = QStringLiteral(":/new/prefix1/rec/");

struct PngHeader {
    quint32 width = 0;
    quint32 height = 0;
    int bitDepth = -1;
    int colourType = -1;
};

// Reads the IHDR chunk that every PNG stream starts with.
bool readPngHeader(const QByteArray &bytes, PngHeader *header)
{
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (bytes.size() < 33 || !bytes.startsWith(signature) || bytes.mid(12, 4) != "IHDR")
        return false;
    const uchar *ihdr = reinterpret_cast<const uchar *>(bytes.constData()) + 16;
    header->width = qFromBigEndian<quint32>(ihdr);
    header->height = qFromBigEndian<quint32>(ihdr + 4);
    header->bitDepth = ihdr[8];
    header->colourType = ihdr[9];
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const int PngRgb = 2;
const int PngRgba = 6;

const struct {
    const char *name;
    int side;
    bool alpha;
} Images[] = {
    {"connect.png", 128, true}, {"disconnect.png", 128, true}, {"about.png", 128, true},
    {"start.png", 128, true}, {"stop.png", 128, true}, {"Clear2.png", 96, true},
    {"SaveAs2.png", 96, true}, {"executable-script-icon.png", 256, true},
    {"LED_ON_GREEN.png", 20, false}, {"LED_ON_RED.png", 20, false}, {"LED_OFF.png", 20, false},
};

} // namespace

class TestEmbeddedImages : public QObject
{
    Q_OBJECT

private slots:
    void images_data();
    void images();
    void treeHoldsOnlyTheImages();
    void applicationIcon();
};

void TestEmbeddedImages::images_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<bool>("alpha");
    for (const auto &image : Images)
        QTest::newRow(image.name) << image.side << image.alpha;
}

void TestEmbeddedImages::images()
{
    QFETCH(int, side);
    QFETCH(bool, alpha);
    const QString path = ImageRoot + QLatin1String(QTest::currentDataTag());

    // Stored as is: the resource data is the PNG stream itself.
    const QResource resource(path);
    QVERIFY(resource.isValid());
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    const QByteArray stored(reinterpret_cast<const char *>(resource.data()), int(resource.size()));
    PngHeader header;
    QVERIFY(readPngHeader(stored, &header));
    QCOMPARE(header.width, quint32(side));
    QCOMPARE(header.height, quint32(side));
    QCOMPARE(header.bitDepth, 8);
    QCOMPARE(header.colourType, alpha ? PngRgba : PngRgb);

    // Decodable, and a drawing, not an empty canvas: more than a handful of colours.
    const QImage image(path);
    QSet<QRgb> colours;
    for (int y = 0; y < side; y += 2)
        for (int x = 0; x < side; x += 2)
            colours.insert(image.pixel(x, y));
    QVERIFY2(colours.size() > 8, qPrintable(QString::number(colours.size())));
}

void TestEmbeddedImages::treeHoldsOnlyTheImages()
{
    QStringList expected;
    for (const auto &image : Images)
        expected << QLatin1String(image.name);
    expected.sort();
    QStringList found = QDir(ImageRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    found.sort();
    QCOMPARE(found, expected);
}

void TestEmbeddedImages::applicationIcon()
{
    const QByteArray ico = readFile(QStringLiteral(PANEL_UI_SOURCE_DIR "/velkaro.ico"));
    QVERIFY(ico.size() > 6);
    const uchar *bytes = reinterpret_cast<const uchar *>(ico.constData());
    QCOMPARE(qFromLittleEndian<quint16>(bytes + 2), quint16(1));  // an icon, not a cursor
    const QVector<int> sides = {256, 128, 96, 72, 64, 48, 32, 24, 16};
    QCOMPARE(int(qFromLittleEndian<quint16>(bytes + 4)), sides.size());
    for (int i = 0; i < sides.size(); ++i) {
        const uchar *entry = bytes + 6 + 16 * i;
        const int side = sides.at(i);
        QCOMPARE(int(entry[0]), side == 256 ? 0 : side);
        QCOMPARE(int(entry[1]), side == 256 ? 0 : side);
        QCOMPARE(qFromLittleEndian<quint16>(entry + 6), quint16(32));
        const quint32 size = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        QVERIFY(size >= 40 && quint64(offset) + size <= quint64(ico.size()));
        // The largest image is a PNG stream; the others are 32-bit bitmaps.
        if (side == 256) {
            PngHeader header;
            QVERIFY(readPngHeader(ico.mid(int(offset), int(size)), &header));
            QCOMPARE(header.width, 256u);
            QCOMPARE(header.colourType, PngRgba);
        } else {
            QCOMPARE(qFromLittleEndian<qint32>(bytes + offset + 4), side);
        }
    }

    const QImage png(QStringLiteral(PANEL_UI_SOURCE_DIR "/velkaro.png"));
    QCOMPARE(png.size(), QSize(256, 256));
    QVERIFY(png.hasAlphaChannel());
    const QByteArray rc = readFile(QStringLiteral(PANEL_UI_SOURCE_DIR "/velkaro.rc"));
    QVERIFY(rc.contains("LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US"));
    QVERIFY(rc.contains("IDI_ICON1 ICON \"velkaro.ico\""));
}

PANEL_TEST_MAIN(TestEmbeddedImages)
#include "tst_embeddedimages.moc"
