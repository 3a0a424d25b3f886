#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
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
    QTest::newRow("connect.png") << 128 << true;
    QTest::newRow("disconnect.png") << 128 << true;
    QTest::newRow("about.png") << 128 << true;
    QTest::newRow("start.png") << 128 << true;
    QTest::newRow("stop.png") << 128 << true;
    QTest::newRow("Clear2.png") << 96 << true;
    QTest::newRow("SaveAs2.png") << 96 << true;
    QTest::newRow("executable-script-icon.png") << 256 << true;
    QTest::newRow("LED_ON_GREEN.png") << 20 << false;
    QTest::newRow("LED_ON_RED.png") << 20 << false;
    QTest::newRow("LED_OFF.png") << 20 << false;
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

    const QImage image(path);
    QCOMPARE(image.size(), QSize(side, side));
    QCOMPARE(image.hasAlphaChannel(), alpha);
    QCOMPARE(QPixmap(path).size(), QSize(side, side));
    // A drawing, not an empty canvas: more than a handful of colours.
    QSet<QRgb> colours;
    for (int y = 0; y < side; y += 2)
        for (int x = 0; x < side; x += 2)
            colours.insert(image.pixel(x, y));
    QVERIFY2(colours.size() > 8, qPrintable(QString::number(colours.size())));
}

void TestEmbeddedImages::treeHoldsOnlyTheImages()
{
    QCOMPARE(QDir(QStringLiteral(":/new")).entryList(), QStringList{QStringLiteral("prefix1")});
    QCOMPARE(QDir(QStringLiteral(":/new/prefix1")).entryList(), QStringList{QStringLiteral("rec")});
    QStringList expected = {"connect.png", "disconnect.png", "about.png", "start.png", "stop.png",
                            "Clear2.png", "SaveAs2.png", "executable-script-icon.png",
                            "LED_ON_GREEN.png", "LED_ON_RED.png", "LED_OFF.png"};
    expected.sort();
    QStringList found = QDir(ImageRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    found.sort();
    QCOMPARE(found, expected);
    // Names are case-sensitive.
    QVERIFY(!QFile::exists(ImageRoot + QStringLiteral("clear2.png")));
}

void TestEmbeddedImages::applicationIcon()
{
    const QByteArray ico = readFile(QStringLiteral(PANEL_UI_SOURCE_DIR "/velkaro.ico"));
    QVERIFY(ico.size() > 6);
    const uchar *bytes = reinterpret_cast<const uchar *>(ico.constData());
    QCOMPARE(qFromLittleEndian<quint16>(bytes), quint16(0));
    QCOMPARE(qFromLittleEndian<quint16>(bytes + 2), quint16(1));
    const int count = qFromLittleEndian<quint16>(bytes + 4);
    const QVector<int> sides = {256, 128, 96, 72, 64, 48, 32, 24, 16};
    QCOMPARE(count, sides.size());
    for (int i = 0; i < count; ++i) {
        const uchar *entry = bytes + 6 + 16 * i;
        const int side = sides.at(i);
        QCOMPARE(int(entry[0]), side == 256 ? 0 : side);
        QCOMPARE(int(entry[1]), side == 256 ? 0 : side);
        QCOMPARE(qFromLittleEndian<quint16>(entry + 6), quint16(32));
        const quint32 size = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        QVERIFY(quint64(offset) + size <= quint64(ico.size()));
        const QByteArray image = ico.mid(int(offset), int(size));
        if (side == 256) {
            PngHeader header;
            QVERIFY(readPngHeader(image, &header));
            QCOMPARE(header.width, 256u);
            QCOMPARE(header.colourType, PngRgba);
            continue;
        }
        // BITMAPINFOHEADER: height doubled for the AND mask, 32 bits, no compression.
        const uchar *bmp = reinterpret_cast<const uchar *>(image.constData());
        const int maskStride = ((side + 31) / 32) * 4;
        QCOMPARE(qFromLittleEndian<quint32>(bmp), 40u);
        QCOMPARE(qFromLittleEndian<qint32>(bmp + 4), side);
        QCOMPARE(qFromLittleEndian<qint32>(bmp + 8), 2 * side);
        QCOMPARE(qFromLittleEndian<quint16>(bmp + 14), quint16(32));
        QCOMPARE(qFromLittleEndian<quint32>(bmp + 16), 0u);
        QCOMPARE(int(size), 40 + side * side * 4 + maskStride * side);
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
