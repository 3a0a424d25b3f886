// Draws the panel's embedded images and application icon into a directory:
//   imagedrawer <output-dir>
// writes rec/<name>.png, velkaro.ico and velkaro.png below <output-dir>.

#include "appicon.h"
#include "icofile.h"
#include "lampimages.h"
#include "logbuttonimages.h"
#include "toolbarimages.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QTextStream>

#include <functional>

namespace {

// Returns an empty string on success, otherwise what went wrong.
QString writeBytes(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        file.commit();
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    }
    if (!file.commit())
        return QStringLiteral("cannot save %1: %2").arg(path, file.errorString());
    return QString();
}

QByteArray pngBytes(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return QByteArray();
    return bytes;
}

QString writePng(const QString &path, const QImage &image)
{
    const QByteArray bytes = pngBytes(image);
    if (bytes.isEmpty())
        return QStringLiteral("cannot encode %1").arg(path);
    return writeBytes(path, bytes);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        err << "usage: imagedrawer <output-dir>\n";
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.mkpath(QStringLiteral("rec"))) {
        err << "cannot create " << out.filePath(QStringLiteral("rec")) << "\n";
        return 1;
    }

    const std::pair<const char *, std::function<QImage()>> pictures[] = {
        {"connect", drawConnectImage},
        {"disconnect", drawDisconnectImage},
        {"about", drawAboutImage},
        {"start", drawStartImage},
        {"stop", drawStopImage},
        {"Clear2", drawClearImage},
        {"SaveAs2", drawSaveAsImage},
        {"executable-script-icon", drawLogSettingsImage},
        {"LED_ON_GREEN", drawGreenLampImage},
        {"LED_ON_RED", drawRedLampImage},
        {"LED_OFF", drawDarkLampImage},
    };
    QStringList failures;
    for (const auto &picture : pictures) {
        const QString path = out.filePath(QStringLiteral("rec/%1.png").arg(QLatin1String(picture.first)));
        failures << writePng(path, picture.second());
    }

    QVector<QImage> iconImages;
    for (int size : {256, 128, 96, 72, 64, 48, 32, 24, 16})
        iconImages.append(drawAppIcon(size));
    const QByteArray ico = encodeIcoFile(iconImages);
    if (ico.isEmpty())
        failures << QStringLiteral("cannot encode velkaro.ico");
    else
        failures << writeBytes(out.filePath(QStringLiteral("velkaro.ico")), ico);
    failures << writePng(out.filePath(QStringLiteral("velkaro.png")), iconImages.first());

    failures.removeAll(QString());
    for (const QString &failure : failures)
        err << failure << "\n";
    return failures.isEmpty() ? 0 : 1;
}
