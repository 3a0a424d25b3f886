// The window's run page against an in-process virtual supply replying at the
// pace of a 9600-baud line:
//  - step start error: 100 one-second steps; for each, when the step's
//    set-point write reaches the supply and when the supply acknowledges it,
//    against the step's nominal start on the run's clock;
//  - limit reaction: a recording-only run with the limit voltage>3; the
//    supply's voltage is raised over it, and the time from the status reply
//    that first shows it to the acknowledgement of the output-off write;
//  - a 40 s ramp (1 V to 12 V into 10 ohms) with the limit current>1.15,
//    crossed 38 s into it: status replies in each whole second of the ramp
//    before the crossing, and the crossing reply to the output-off ack.
// The run's clock starts inside the Start click, a little after the bench's
// own, so the figures err on the late side. A count of 0 skips its part.
//   window_run_bench [steps] [trials] [ramps]
//   window_run_bench noisy [MINUTES [SEED]]
//     a ramp of MINUTES (10 unless given) up to 12 V and back against a
//     supply that damages 3% of its replies, drops 2% and delays 2%: how the
//     run ended, and every set-point write the supply took checked against
//     the acknowledged and read-back values.

#include "mainwindow.h"
#include "virtualsupply.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <cstdio>

namespace {

// Command and access bytes of a line "#DDSSCCAA...".
int Command(const QByteArray &line) { return line.mid(5, 2).toInt(nullptr, 16); }
int Access(const QByteArray &line) { return line.mid(7, 2).toInt(nullptr, 16); }
bool FromSupply(const QByteArray &line) { return line.startsWith("#80"); }
// The output voltage of a status reply, in 10 mV (little-endian, first field).
int StatusVoltage(const QByteArray &line)
{
    const QByteArray data = QByteArray::fromHex(line.mid(9, 4));
    return data.size() == 2 ? (quint8(data[0]) | quint8(data[1]) << 8) : 0;
}

void Report(const char *what, QVector<qint64> ms)
{
    if (ms.isEmpty()) {
        std::printf("%-44s no samples\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-44s n=%d  median %lld ms  worst %lld ms  best %lld ms\n", what, int(ms.size()),
                ms.at(ms.size() / 2), ms.last(), ms.first());
}

template <typename T>
T *Find(MainWindow &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// Shows the window, names the run's program and recording, connects to the
// supply and waits until the run can start; false when it never can.
bool ReadyToRun(MainWindow &window, const VirtualSupply &supply, const QString &program, const QString &record)
{
    window.show();
    Find<QLineEdit>(window, "runProgramEdit")->setText(program);
    Find<QLineEdit>(window, "runRecordEdit")->setText(record);
    window.findChild<QToolBar *>()->findChild<QComboBox *>()->setEditText(supply.portPath());
    for (QAction *action : window.findChildren<QAction *>())
        if (action->text() == QStringLiteral("Подключить"))
            action->trigger();
    auto *start = Find<QPushButton>(window, "runStartButton");
    return QTest::qWaitFor([&] { return start->isEnabled(); }, 5000);
}

int NoisyRamp(QApplication &app, const QString &dir)
{
    const int minutes = app.arguments().value(2, QStringLiteral("10")).toInt();
    VirtualSupply::Options noisy;
    noisy.pace9600 = true;
    noisy.corrupt = 0.03;
    noisy.drop = 0.02;
    noisy.late = 0.02;
    noisy.seed = app.arguments().value(3, QStringLiteral("7")).toUInt();
    VirtualSupply supply(noisy);
    QString error;
    if (!supply.open(&error)) {
        std::fprintf(stderr, "window_run_bench: %s\n", qPrintable(error));
        return 1;
    }
    int writes = 0, outputWrites = 0;
    QObject::connect(&supply, &VirtualSupply::lineReceived, [&](const QByteArray &line) {
        writes += Command(line) == 0x03 && Access(line) == 0x11;
        outputWrites += Command(line) == 0x07 && Access(line) == 0x11;
    });
    const int half = minutes * 30;
    QFile file(dir + QStringLiteral("/noisy.csv"));
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QStringLiteral("voltage,current,duration,ramp\n1,0.5,1,\n12,1.2,%1,%1\n1,0.5,%2,%2\n")
                          .arg(half - 1)
                          .arg(half)
                          .toUtf8())
               < 0)
        return 1;
    file.close();
    MainWindow window;
    const QString record = dir + QStringLiteral("/noisy-record.csv");
    if (!ReadyToRun(window, supply, file.fileName(), record))
        return 1;
    auto *start = Find<QPushButton>(window, "runStartButton");
    auto *stopButton = Find<QPushButton>(window, "runStopButton");
    QElapsedTimer took;
    took.start();
    start->click();
    const bool ended = QTest::qWaitFor([&] { return !stopButton->isEnabled(); }, minutes * 60000 + 120000);
    QFile recorded(record);
    recorded.open(QIODevice::ReadOnly);
    QByteArrayList events;
    for (const QByteArray &line : recorded.readAll().split('\n')) {
        const QByteArrayList fields = line.split(',');
        if (!line.startsWith('#') && fields.size() > 12 && !fields[12].isEmpty() && fields[12] != "event")
            events << fields[12];
    }
    std::printf("window run page, noisy ramp of %d min, seed %u (corrupt 0.03, drop 0.02, late 0.02): %s after %.1f s; "
                "events %s; %d set-point and %d output writes received by the supply; afterwards the supply's "
                "output is %s, its set-points %d mV %d mA\n",
                minutes, noisy.seed, ended ? "ended" : "did NOT end", took.elapsed() / 1000.0,
                events.join('|').constData(), writes, outputWrites, supply.model().outputOn() ? "ON" : "off",
                supply.model().setpoints().VoltageSet, supply.model().setpoints().CurrentSet);
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String("noisy"))
        return NoisyRamp(app, dir.path());
    const int steps = app.arguments().value(1, QStringLiteral("100")).toInt();
    const int trials = app.arguments().value(2, QStringLiteral("20")).toInt();
    const int ramps = app.arguments().value(3, QStringLiteral("10")).toInt();

    VirtualSupply::Options paced;
    paced.pace9600 = true;
    VirtualSupply supply(paced);
    QString error;
    if (!supply.open(&error)) {
        std::fprintf(stderr, "window_run_bench: %s\n", qPrintable(error));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    QVector<std::pair<qint64, QByteArray>> requests, replies;
    QObject::connect(&supply, &VirtualSupply::lineReceived,
                     [&](const QByteArray &line) { requests.append({clock.elapsed(), line}); });
    QObject::connect(&supply, &VirtualSupply::replyWritten,
                     [&](const QByteArray &text) { replies.append({clock.elapsed(), text}); });

    QByteArray program = "voltage,current,duration\n";
    for (int i = 0; i < steps; ++i)
        program += i % 2 ? "3,1,1\n" : "2,1,1\n";
    QFile file(dir.filePath(QStringLiteral("steps.csv")));
    if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size())
        return 1;
    file.close();

    MainWindow window;
    if (!ReadyToRun(window, supply, file.fileName(), dir.filePath(QStringLiteral("steps-record.csv"))))
        return 1;
    auto *start = Find<QPushButton>(window, "runStartButton");
    auto *stopButton = Find<QPushButton>(window, "runStopButton");
    QTest::qWait(1000);

    // Step starts.
    if (steps > 0) {
    requests.clear();
    replies.clear();
    const qint64 runStart = clock.elapsed();
    start->click();
    if (!QTest::qWaitFor([&] { return !stopButton->isEnabled(); }, steps * 1000 + 10000)) {
        std::fprintf(stderr, "window_run_bench: the program did not end\n");
        return 1;
    }
    QVector<qint64> arrival, acknowledged;
    for (const auto &[at, line] : requests)
        if (Command(line) == 0x03 && Access(line) == 0x11)
            arrival.append(at - runStart - arrival.size() * 1000);
    for (const auto &[at, text] : replies)
        if (FromSupply(text) && Command(text) == 0x03 && Access(text) == 0x1F)
            acknowledged.append(at - runStart - acknowledged.size() * 1000);
    std::printf("%d one-second steps, poll tick 250 ms, 9600-baud pace\n", steps);
    Report("step start to set-point write at the supply", arrival);
    Report("step start to its acknowledgement", acknowledged);
    }

    // Limit reactions.
    Find<QLineEdit>(window, "runProgramEdit")->clear();
    Find<QComboBox>(window, "runLimitQuantity1")->setCurrentIndex(1);
    Find<QComboBox>(window, "runLimitComparison1")->setCurrentIndex(2);
    Find<QDoubleSpinBox>(window, "runLimitValue1")->setValue(3.0);
    QVector<qint64> reaction;
    for (int trial = 0; trial < trials; ++trial) {
        supply.model().setSetpoints(2000, 1000);
        supply.model().setOutputOn(true);
        Find<QLineEdit>(window, "runRecordEdit")
            ->setText(dir.filePath(QStringLiteral("limit-%1.csv").arg(trial)));
        start->click();
        QTest::qWait(600 + 37 * trial % 250);  // crossings at varied points of the cycle
        requests.clear();
        replies.clear();
        supply.model().setSetpoints(4000, 1000);
        if (!QTest::qWaitFor([&] { return !stopButton->isEnabled(); }, 5000)) {
            std::fprintf(stderr, "window_run_bench: the limit did not trip\n");
            return 1;
        }
        qint64 crossing = -1;
        for (const auto &[at, text] : replies) {
            if (!FromSupply(text))
                continue;
            if (crossing < 0 && Command(text) == 0x01 && StatusVoltage(text) > 300)
                crossing = at;
            if (crossing >= 0 && Command(text) == 0x07 && Access(text) == 0x1F) {
                reaction.append(at - crossing);
                break;
            }
        }
        QTest::qWait(300);
    }
    Report("limit: crossing reading to output-off ack", reaction);

    // Ramps.
    QFile rampFile(dir.filePath(QStringLiteral("ramp.csv")));
    if (!rampFile.open(QIODevice::WriteOnly) || rampFile.write("voltage,current,duration,ramp\n1,2,1,\n12,2,60,40\n") < 0)
        return 1;
    rampFile.close();
    Find<QLineEdit>(window, "runProgramEdit")->setText(rampFile.fileName());
    Find<QComboBox>(window, "runLimitQuantity1")->setCurrentIndex(2);
    Find<QComboBox>(window, "runLimitComparison1")->setCurrentIndex(2);
    Find<QDoubleSpinBox>(window, "runLimitValue1")->setValue(1.15);
    QVector<qint64> rampReaction, fewestPerSecond;
    int readings = 0, seconds = 0;
    for (int trial = 0; trial < ramps; ++trial) {
        Find<QLineEdit>(window, "runRecordEdit")->setText(dir.filePath(QStringLiteral("ramp-%1.csv").arg(trial)));
        requests.clear();
        replies.clear();
        const qint64 runStart = clock.elapsed();
        start->click();
        if (!QTest::qWaitFor([&] { return !stopButton->isEnabled(); }, 60000)) {
            std::fprintf(stderr, "window_run_bench: the ramp's limit did not trip\n");
            return 1;
        }
        qint64 crossing = -1;
        QVector<qint64> statusReplies;
        for (const auto &[at, text] : replies) {
            if (!FromSupply(text))
                continue;
            if (crossing < 0 && Command(text) == 0x01) {
                statusReplies.append(at);
                if (StatusVoltage(text) > 1150)
                    crossing = at;
            }
            if (crossing >= 0 && Command(text) == 0x07 && Access(text) == 0x1F) {
                rampReaction.append(at - crossing);
                break;
            }
        }
        // Whole seconds from the ramp's start (1 s into the run) to the crossing.
        const qint64 rampStart = runStart + 1000;
        const int whole = int((crossing - rampStart) / 1000);
        QVector<int> perSecond(std::max(whole, 0));
        for (qint64 at : statusReplies)
            if (at >= rampStart && at < rampStart + whole * 1000)
                ++perSecond[int((at - rampStart) / 1000)];
        if (!perSecond.isEmpty())
            fewestPerSecond.append(*std::min_element(perSecond.begin(), perSecond.end()));
        for (int n : perSecond)
            readings += n;
        seconds += perSecond.size();
        QTest::qWait(300);
    }
    if (ramps > 0) {
        std::printf("40 s ramps, %d trials: %d status readings in %d whole seconds before the crossing (%.2f per second)\n",
                    ramps, readings, seconds, seconds ? double(readings) / seconds : 0.0);
        std::sort(fewestPerSecond.begin(), fewestPerSecond.end());
        if (!fewestPerSecond.isEmpty())
            std::printf("ramp: fewest readings in one whole second, over the trials: lowest %lld, median %lld\n",
                        fewestPerSecond.first(), fewestPerSecond.at(fewestPerSecond.size() / 2));
        Report("ramp: crossing reading to output-off ack", rampReaction);
    }
    return 0;
}
