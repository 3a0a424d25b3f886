// How soon the window's set-point box shows a set-point that another program
// wrote: velkaroctl set, attached to the line, against an in-process virtual
// supply at the pace of a 9600-baud line. The delay runs from the supply's
// acknowledgement of the write (the moment the supply holds the value) to
// the window's voltage box showing it. Twice: with the window owning the line
// (it makes velkaroctl's exchanges itself) and attached to a velkaroctl watch
// that owns it (the owner passes what it hears on to the window).
//   window_setpoint_bench [samples]   (20 unless given; figures on stderr,
//                                      the window's link trace on stdout)

#include "mainwindow.h"
#include "virtualsupply.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <cstdio>

namespace {

int Command(const QByteArray &line) { return line.mid(5, 2).toInt(nullptr, 16); }
int Access(const QByteArray &line) { return line.mid(7, 2).toInt(nullptr, 16); }

void Report(const char *what, QVector<qint64> ms, int missed)
{
    if (ms.isEmpty()) {
        std::fprintf(stderr, "%-40s no samples (%d missed)\n", what, missed);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::fprintf(stderr, "%-40s n=%d  median %lld ms  worst %lld ms  best %lld ms  (%d not shown within 5 s)\n",
                 what, int(ms.size()), ms.at(ms.size() / 2), ms.last(), ms.first(), missed);
}

void Trigger(MainWindow &window, const QString &text)
{
    for (QAction *action : window.findChildren<QAction *>())
        if (action->text() == text)
            action->trigger();
}

}  // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    const int samples = app.arguments().value(1, QStringLiteral("20")).toInt();

    VirtualSupply::Options paced;
    paced.pace9600 = true;
    VirtualSupply supply(paced);
    QString error;
    if (!supply.open(&error)) {
        std::fprintf(stderr, "window_setpoint_bench: %s\n", qPrintable(error));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    qint64 ackAt = -1;
    QObject::connect(&supply, &VirtualSupply::replyWritten, [&](const QByteArray &text) {
        if (ackAt < 0 && text.startsWith("#80") && Command(text) == 0x03 && Access(text) == 0x1F)
            ackAt = clock.elapsed();
    });

    MainWindow window;
    window.show();
    auto *volts = window.findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxV"));
    qint64 shownAt = -1;
    double awaited = -1;
    QObject::connect(volts, QOverload<double>::of(&QDoubleSpinBox::valueChanged), [&](double value) {
        if (shownAt < 0 && qAbs(value - awaited) < 0.001)
            shownAt = clock.elapsed();
    });
    window.findChild<QToolBar *>()->findChild<QComboBox *>()->setEditText(supply.portPath());

    auto measure = [&](const char *what, double base) {
        QVector<qint64> delays;
        int missed = 0;
        for (int i = 0; i < samples; ++i) {
            awaited = base + 0.01 * i;
            ackAt = shownAt = -1;
            QProcess set;
            set.start(QStringLiteral(VELKAROCTL_PATH),
                      {"--port", supply.portPath(), "set", "--voltage", QString::number(awaited, 'f', 2)});
            (void)QTest::qWaitFor([&] { return set.state() == QProcess::NotRunning; }, 10000);
            (void)QTest::qWaitFor([&] { return shownAt >= 0; }, 5000);
            if (set.exitCode() != 0 || ackAt < 0 || shownAt < 0) {
                ++missed;
                continue;
            }
            delays.append(shownAt - ackAt);
            // Samples at varied phases of the poll.
            QTest::qWait(100 + 37 * i % 400);
        }
        Report(what, delays, missed);
    };

    Trigger(window, QStringLiteral("Подключить"));
    if (!QTest::qWaitFor([&] { return volts->isEnabled(); }, 5000)) {
        std::fprintf(stderr, "window_setpoint_bench: the window did not connect\n");
        return 1;
    }
    measure("window owns the line:", 3.0);

    Trigger(window, QStringLiteral("Отключить"));
    QProcess watch;
    watch.start(QStringLiteral(VELKAROCTL_PATH), {"--port", supply.portPath(), "watch", "--interval", "0.5"});
    if (!watch.waitForReadyRead(5000)) {
        std::fprintf(stderr, "window_setpoint_bench: velkaroctl watch did not start\n");
        return 1;
    }
    Trigger(window, QStringLiteral("Подключить"));
    (void)QTest::qWaitFor([&] { return volts->isEnabled(); }, 5000);
    QTest::qWait(500);
    measure("window attached to velkaroctl watch:", 4.0);
    watch.terminate();
    watch.waitForFinished(5000);
    return 0;
}
