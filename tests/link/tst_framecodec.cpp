#include "devicelink.h"
#include "testmain.h"

class FrameCodecTest : public QObject
{
    Q_OBJECT

private slots:
    void crcCheckValue()
    {
        QCOMPARE(DeviceLink::CrcOver(QByteArray("123456789")), quint16(0x29B1));
        // A frame followed by its own CRC checks to zero, as a reply is judged.
        QCOMPARE(DeviceLink::CrcOver(QByteArray::fromHex("01800101EA3E")), quint16(0));
    }

    void goldenFrames_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("text");
        const auto row = [](const char *name, const char *hex, const char *text) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << QByteArray(text);
        };
        row("status read at 1", "01800101", "#01800101EA3E\r");
        row("output on at 1", "018007119A1B", "#018007119A1B1864\r");
        row("set-points 12.34 V 1.5 A at 1", "018003113430DC05", "#018003113430DC059EAD\r");
        row("bytes below 0x10 keep their zero", "00800101", "#008001019C8A\r");
    }

    void goldenFrames()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, text);
        const QByteArray encoded = DeviceLink::EncodeFrame(bytes);
        QCOMPARE(encoded, text);
        QCOMPARE(encoded.size(), 2 + 2 * (bytes.size() + 2));
        for (int i = 1; i < encoded.size() - 1; ++i)
            QVERIFY2(QByteArray("0123456789ABCDEF").contains(encoded.at(i)), encoded.constData());

        QByteArray decoded;
        QCOMPARE(DeviceLink::DecodeLine(encoded, decoded), bytes.size() + 2);
        QCOMPARE(decoded.left(bytes.size()), bytes);
    }

    void decodeLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("result");
        QTest::addColumn<QByteArray>("out");
        const auto row = [](const char *name, const QByteArray &line, int result, const QByteArray &out) {
            QTest::newRow(name) << line << result << out;
        };
        row("start then terminator", QByteArray("#\r"), 0, QByteArray());
        row("start without terminator", QByteArray("#0180"), 0, QByteArray());
        row("noise around the frame", QByteArray("xx\x01#0180\rAB#12\r"), 2, QByteArray::fromHex("0180"));
        row("lowercase digits fail, earlier bytes stay", QByteArray("#01ab\r"), -1, QByteArray::fromHex("01"));
        row("odd length fails", QByteArray("#01801\r"), -1, QByteArray::fromHex("0180"));
        row("second start character fails", QByteArray("#01#180\r"), -1, QByteArray::fromHex("01"));
        // The calibration reply and write are the longest frames: 28 bytes.
        row("longest frame", QByteArray("#" + QByteArray(56, 'A') + "\r"), 28, QByteArray(28, char(0xAA)));
        row("longer than any frame fails", QByteArray("#" + QByteArray(58, 'A') + "\r"), -1, QByteArray());
        row("no start character leaves the output", QByteArray("0180\r"), -1, QByteArray("stale"));
        row("G is no digit", QByteArray("#1G\r"), -1, QByteArray());
        row("endless digits fail", QByteArray("#" + QByteArray(4000, '1') + "\r"), -1, QByteArray());
    }

    void decodeLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, result);
        QFETCH(QByteArray, out);
        QByteArray decoded("stale");
        QCOMPARE(DeviceLink::DecodeLine(line, decoded), result);
        QCOMPARE(decoded, out);
    }
};

PANEL_TEST_MAIN(FrameCodecTest)
#include "tst_framecodec.moc"
