// Long-run figures of the log pane: the cost of one appended line once the
// pane holds 100,000 lines, the export of all of them, and the peak memory.
//
// Usage: log_bench [lines]   (default 100000; the offscreen platform is used
// unless QT_QPA_PLATFORM says otherwise)

#include "logexport.h"
#include "logline.h"
#include "logpane.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextEdit>

#include <cstdio>

namespace {

constexpr int defaultLines = 100000;
constexpr int tailLines = 1000;
// The window returns to its event loop after every tick; letting it paint and
// lay out every few lines keeps the pane in the state it has in use.
constexpr int linesPerEventPass = 20;

constexpr double appendTargetMs = 1.0;
constexpr double exportTargetMs = 500.0;
constexpr double memoryTargetMb = 200.0;

// Peak resident set size in kB, or -1 when it cannot be read.
long PeakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The line of a given tick, as recording with a running-time stamp writes it.
QString LineAt(int index)
{
    LogSettings settings;
    settings.AddTime = true;
    settings.TimeForm = 0;
    LogClocks clocks;
    clocks.running = QTime(0, 0).addMSecs(index * 1000);
    StatusRecord status;
    status.Voltage = 500 + index % 1000;
    status.Current = 250 + index % 97;
    return LogText(settings, clocks, DisplayReading(status));
}

const char *Verdict(bool met)
{
    return met ? "ok" : "MISSED";
}

}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lineCount = argc > 1 ? QByteArray(argv[1]).toInt() : defaultLines;
    if (lineCount < tailLines) {
        std::fprintf(stderr, "at least %d lines\n", tailLines);
        return 2;
    }

    QTextEdit pane;  // as the log page's pane
    pane.setReadOnly(true);
    pane.resize(700, 400);
    pane.show();

    QElapsedTimer total;
    total.start();
    QElapsedTimer one;
    qint64 tailNs = 0;
    qint64 lastNs = 0;
    for (int i = 0; i < lineCount; ++i) {
        const QString text = LineAt(i);
        one.start();
        AppendToPane(&pane, text);
        lastNs = one.nsecsElapsed();
        if (i >= lineCount - tailLines)
            tailNs += lastNs;
        if (i % linesPerEventPass == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const double appendSeconds = total.elapsed() / 1000.0;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QElapsedTimer exportClock;
    exportClock.start();
    const bool saved = SaveLogFile(path, pane.toPlainText().toLocal8Bit());
    const double exportMs = exportClock.nsecsElapsed() / 1e6;
    const qint64 fileBytes = QFileInfo(path).size();

    const double lastMs = lastNs / 1e6;
    const double tailMs = tailNs / 1e6 / tailLines;
    const long peakKb = PeakMemoryKb();
    const double peakMb = peakKb / 1024.0;

    std::printf("lines appended:           %d (%.1f s in all)\n", lineCount, appendSeconds);
    std::printf("last append:              %.3f ms  [%s, target <= %.1f ms]\n",
                lastMs, Verdict(lastMs <= appendTargetMs), appendTargetMs);
    std::printf("mean of last %d appends: %.3f ms  [%s]\n",
                tailLines, tailMs, Verdict(tailMs <= appendTargetMs));
    std::printf("export:                   %.1f ms, %lld bytes, %s  [%s, target <= %.0f ms]\n",
                exportMs, static_cast<long long>(fileBytes), saved ? "saved" : "FAILED",
                Verdict(saved && exportMs <= exportTargetMs), exportTargetMs);
    std::printf("peak memory (VmHWM):      %.1f MB  [%s, target < %.0f MB]\n",
                peakMb, Verdict(peakKb >= 0 && peakMb < memoryTargetMb), memoryTargetMb);

    const bool met = saved && lastMs <= appendTargetMs && tailMs <= appendTargetMs
        && exportMs <= exportTargetMs && peakKb >= 0 && peakMb < memoryTargetMb;
    return met ? 0 : 1;
}
