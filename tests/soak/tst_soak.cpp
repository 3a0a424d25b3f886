// Several windows, each on its own supply that drops, corrupts, splits,
// delays and prefixes noise to its replies, worked by an operator for well
// over a thousand transactions. The supplies are traceable: every read reply
// carries data that names its serial, so the watch knows what each intact
// reply holds without the window's code, and judges every page, display and
// log line against it.

#include "windowdriver.h"
#include "dialogsettingslog.h"
#include "processmemory.h"
#include "testmain.h"
#include "traceablepattern.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLCDNumber>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int Windows = 6;
constexpr int TransactionsWanted = 1600;
// Four tries of a tick each, with room for the other windows' waits.
constexpr qint64 StuckMs = 8000;
#if defined(__SANITIZE_ADDRESS__)
// Its quarantine keeps freed blocks resident; LeakSanitizer judges that build.
constexpr bool ResidentMemoryIsMeaningful = false;
#else
constexpr bool ResidentMemoryIsMeaningful = true;
#endif

const QString WriteFailure = QStringLiteral("Ошибка записи");
const QString ReadFailure = QStringLiteral("Ошибка чтения");

// Where each box's value sits in a read reply's data: byte offset, type (1
// an unsigned byte, 2 an unsigned and -2 a signed little-endian 16-bit
// number) and the divisor that turns it into the box's unit.
struct Field {
    const char *box;
    int offset;
    int type;
    double divisor;
};
struct Page {
    const char *name;
    quint8 command;
    int dataBytes;
    std::vector<Field> fields;
};
const Page Pages[] = {
    {"measurements", 0x10, 12,
     {{"doubleSpinBoxVsdadc", 0, 2, 1000}, {"doubleSpinBoxCsdadc", 2, 2, 1000}, {"doubleSpinBoxTemp", 4, 2, 10},
      {"doubleSpinBoxVin", 6, 2, 1000}, {"doubleSpinBoxVref", 8, 2, 1000}, {"doubleSpinBoxVpwm", 10, 2, 1000}}},
    {"set-points", 0x03, 4, {{"doubleSpinBoxV", 0, 2, 1000}, {"doubleSpinBoxA", 2, -2, 1000}}},
    {"calibration", 0xA8, 22,
     {{"spinBoxKuDacVolt", 0, 2, 1}, {"spinBoxOffDacVolt", 2, -2, 1}, {"spinBoxKuDacCurr", 4, 2, 1},
      {"spinBoxOffDacCurr", 6, -2, 1}, {"spinBoxKuAdcVolt", 8, 2, 1}, {"spinBoxOffAdcVolt", 10, -2, 1},
      {"spinBoxKuAdcCurr", 12, 2, 1}, {"spinBoxOffAdcCurr", 14, -2, 1}, {"spinBoxKuAdcCurrFune", 16, 2, 1},
      {"spinBoxOffAdcCurrFine", 18, -2, 1}, {"spinBoxRout", 20, 2, 1}}},
    {"user parameters", 0xAB, 10,
     {{"spinBoxNVPstatus", 0, 1, 1}, {"spinBoxLifeCounter", 1, 2, 1}, {"spinBoxCurrTrigStat", 3, 1, 1},
      {"spinBoxCurrTrigTime", 4, 1, 1}, {"spinBoxVoltmetrStatus", 5, 1, 1}, {"spinBoxVoltmetrTime", 6, 1, 1},
      {"spinBoxAdjStatus", 7, 1, 1}, {"spinBoxCurrAdgStatus", 8, 1, 1}, {"spinBoxCurrentTrigger", 9, 1, 1}}},
};
const Page &MeasurementPage = Pages[0];
constexpr quint8 Status = 0x01, Setpoints = 0x03, Output = 0x07;
constexpr quint8 Calibration = 0xA8, UserParams = 0xAB;

int number(const QByteArray &data, int offset, int type)
{
    int value = quint8(data.at(offset));
    if (type != 1)
        value |= quint8(data.at(offset + 1)) << 8;
    return type == -2 && value >= 0x8000 ? value - 0x10000 : value;
}

double fieldValue(const QByteArray &data, const Field &f)
{
    return number(data, f.offset, f.type) / f.divisor;
}

// A box shows a value rounded to its decimals; one beyond its range at the
// nearest end.
bool boxShows(const QObject *box, double value)
{
    const double shown = box->property("value").toDouble();
    const QVariant decimals = box->property("decimals");
    const double half = decimals.isValid() ? 0.5 * std::pow(10.0, -decimals.toInt()) + 1e-9 : 0;
    if (std::abs(shown - value) <= half)
        return true;
    return (value < box->property("minimum").toDouble() && shown == box->property("minimum").toDouble())
           || (value > box->property("maximum").toDouble() && shown == box->property("maximum").toDouble());
}

// The displays hold four digits: 10 mV for the voltage, 1 mA for the current,
// which counts 0.1 mA while byte 4 is set. A current below zero shows as
// zero, one above 9.999 A as 9.999.
double displayVolts(const QByteArray &status)
{
    return qBound(0, number(status, 0, 2), 9999) / 100.0;
}
double displayAmperes(const QByteArray &status)
{
    const int raw = number(status, 2, -2);
    const long milliamperes = status.at(4) ? std::lround(raw / 10.0) : raw;
    return qBound(0L, milliamperes, 9999L) / 1000.0;
}
bool displaysShow(double volts, double amperes, const QString &button, const QByteArray &status)
{
    return std::abs(volts - displayVolts(status)) < 1e-9
           && std::abs(amperes - displayAmperes(status)) < 1e-9
           && button == (status.at(7) ? QStringLiteral("Выключить") : QStringLiteral("Включить"));
}

// "volts amperes" of a log line, three and four decimals.
QString logValues(double volts, double amperes)
{
    return QString::number(volts, 'f', 3) + QLatin1Char(' ') + QString::number(amperes, 'f', 4);
}

// CRC-16, polynomial 0x1021 from 0xFFFF: over a frame with its CRC, zero.
quint16 crc16(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (char byte : bytes) {
        crc ^= quint16(quint8(byte) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = quint16(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// The bytes of the frame in a line's text: noise never holds '#', and a
// damaged reply has another hex digit in its CRC.
QByteArray frameBytes(const QByteArray &text)
{
    const int start = text.indexOf('#');
    return start < 0 ? QByteArray() : QByteArray::fromHex(text.mid(start + 1, text.indexOf('\r', start) - start - 1));
}

}  // namespace

// One window on its own supply, a watch on what it shows and an operator at
// it. Every few milliseconds each page must show what the operator typed, what
// it showed before any reply, or what one intact reply of its command held.
// Every request must end acknowledged (a write) or replied (a read), or with
// exactly one failure box after its tries; never silently.
class Rig : public QObject
{
public:
    Rig(const VirtualSupply::Options &options, bool logsAdc, const MessageBoxCloser *boxes)
        : d(options), logsAdc(logsAdc), boxes(boxes), rng(options.seed)
    {
        auto *dialog = d.window->findChild<DialogSettingsLog *>();
        dialog->findChild<QComboBox *>(QStringLiteral("comboBoxLogValue"))->setCurrentIndex(logsAdc);
        dialog->findChild<QCheckBox *>(QStringLiteral("checkBoxAddTime"))->setChecked(logsAdc);
        dialog->findChild<QRadioButton *>(QStringLiteral("radioButtonComme"))->setChecked(!logsAdc);
        for (const Page &page : Pages) {
            boxesOf.append(QList<QObject *>());
            for (const Field &f : page.fields)
                boxesOf.last().append(d.widget<QObject>(f.box));
            initial.append(shown(int(boxesOf.size()) - 1));
        }
        typed = initial;
        initialDisplays = displays();
        connect(d.supply.get(), &VirtualSupply::replyWritten, this, &Rig::takeReply);
        connect(d.supply.get(), &VirtualSupply::lineReceived, this, &Rig::takeLine);
        connect(&sampler, &QTimer::timeout, this, &Rig::sample);
    }

    // The supply outlives the members its signals reach.
    ~Rig() override { d.supply->disconnect(this); }

    void connectWindow()
    {
        d.connectToSupply();
        // Often enough that a wrong value cannot slip between two looks.
        sampler.start(20);
    }
    bool connected() const { return d.disconnectAction()->isEnabled(); }
    int transactions() const { return d.supply->receivedLines().size(); }

    QStringList foreignLogLines() const
    {
        QStringList foreign;
        const QString text = d.widget<QTextEdit>("textEditLog")->toPlainText();
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            // A stamp, when there is one, comes first.
            QString values = line.section(QLatin1Char(' '), -2).replace(QLatin1Char(','), QLatin1Char('.'));
            if (!(logsAdc ? adcLog : displayLog).contains(values))
                foreign.append(values);
        }
        return foreign;
    }

    WindowDriver d;
    bool running = false;
    int acknowledged = 0, failed = 0, logToggles = 0, samples = 0;
    QStringList violations;  // foreign values shown, and requests that ended wrongly
    QHash<quint8, QList<QByteArray>> replies;  // data of every intact read reply

private:
    enum Kind { Apply, Switch, CalRead, CalWrite, UserRead, UserWrite, LogToggle };

    QList<double> shown(int page) const
    {
        QList<double> values;
        for (const QObject *box : boxesOf.at(page))
            values.append(box->property("value").toDouble());
        return values;
    }
    QString displays() const
    {
        return QString::number(d.widget<QLCDNumber>("lcdNumberV")->value()) + QLatin1Char('|')
               + QString::number(d.widget<QLCDNumber>("lcdNumberA")->value()) + QLatin1Char('|')
               + d.widget<QPushButton>("pushButtonOnOff")->text();
    }
    int answered() const
    {
        return write ? acks.value(command) : replies.value(command).size();
    }
    void foreign(const QString &what)
    {
        if (violations.size() < 20)
            violations.append(what);
    }

    void takeReply(const QByteArray &text)
    {
        const QByteArray bytes = frameBytes(text);
        if (bytes.size() < 4)
            return;
        const quint8 from = quint8(bytes.at(2));
        // The window judges a write's reply by its access byte alone.
        if (quint8(bytes.at(3)) == 0x1F) {
            ++acks[from];
            return;
        }
        if (bytes.size() < 6 || crc16(bytes) != 0 || quint8(bytes.at(0)) != 0x80)
            return;
        const QByteArray data = bytes.mid(4, bytes.size() - 6);
        // Only data of the pattern is known: anything else the window shows
        // is then foreign.
        if (!TraceablePattern::matches(from, data))
            return;
        replies[from].append(data);
        if (from == Status && data.size() == 8)
            displayLog.insert(logValues(number(data, 0, 2) / 100.0,
                                        number(data, 2, -2) / (data.at(4) ? 10000.0 : 1000.0)));
        if (from == MeasurementPage.command && data.size() == MeasurementPage.dataBytes)
            adcLog.insert(logValues(fieldValue(data, MeasurementPage.fields[0]),
                                    fieldValue(data, MeasurementPage.fields[1])));
    }

    void sample()
    {
        ++samples;
        const double volts = d.widget<QLCDNumber>("lcdNumberV")->value();
        const double amperes = d.widget<QLCDNumber>("lcdNumberA")->value();
        const QString button = d.widget<QPushButton>("pushButtonOnOff")->text();
        bool good = displays() == initialDisplays;
        for (const QByteArray &data : replies.value(Status))
            good = good || (data.size() == 8 && displaysShow(volts, amperes, button, data));
        if (!good)
            foreign(QStringLiteral("displays show %1").arg(displays()));

        for (int p = 0; p < int(std::size(Pages)); ++p) {
            const QList<double> now = shown(p);
            const QList<QByteArray> sent = replies.value(Pages[p].command);
            if (now == initial.at(p) || now == typed.at(p)
                || (lastMatch[p] >= 0 && pageShows(p, sent.at(lastMatch[p]))))
                continue;
            lastMatch[p] = int(sent.size()) - 1;
            while (lastMatch[p] >= 0 && !pageShows(p, sent.at(lastMatch[p])))
                --lastMatch[p];
            if (lastMatch[p] < 0)
                foreign(QStringLiteral("%1 show %2").arg(QLatin1String(Pages[p].name), QString::number(now.first())));
        }
        if (pending && tries > 0 && outcomeShown() && !outcomeAt.isValid())
            outcomeAt.start();
        // A reply the supply wrote may have come late for the window, whose
        // further tries may then still fail: judged once they are over.
        if (pending && outcomeAt.isValid()
            && outcomeAt.elapsed() > (boxShown() ? 300 : 250 * maxTries + 300))
            judge();
        if (pending && age.elapsed() > StuckMs) {
            violations.append(QStringLiteral("command %1 did not end (%2 tries)").arg(command).arg(tries));
            pending = false;
        }
    }
    bool pageShows(int p, const QByteArray &data) const
    {
        if (data.size() != Pages[p].dataBytes)
            return false;
        for (int i = 0; i < boxesOf.at(p).size(); ++i) {
            if (!boxShows(boxesOf.at(p).at(i), fieldValue(data, Pages[p].fields[size_t(i)])))
                return false;
        }
        return true;
    }

    void takeLine(const QByteArray &line)
    {
        const QByteArray bytes = frameBytes(line);
        if (bytes.size() < 6 || crc16(bytes) != 0) {
            violations.append(QStringLiteral("the window sent ") + QString::fromLatin1(line));
            return;
        }
        if (pending) {
            if (quint8(bytes.at(2)) == command && (quint8(bytes.at(3)) == 0x11) == write) {
                if (++tries > maxTries)
                    violations.append(QStringLiteral("command %1 tried %2 times").arg(command).arg(tries));
            } else if (write && maxTries == 1 && tries == 1 && !readingBack
                       && quint8(bytes.at(2)) == command) {
                // A page write without an acknowledgement is read back once.
                readingBack = true;
                readBackBefore = replies.value(command).size();
            }
            // Judged once its outcome shows (see sample()): another line
            // before that may be the link's read of another command, which
            // settles the line before a try. One that never ends is stuck.
            return;
        }
        // A few ticks of monitoring between requests.
        if (running && ++idleLines >= int(rng() % 4) + 1)
            act();
    }

    void act()
    {
        static constexpr Kind Order[] = {Apply, Apply, Apply, Switch, Switch, CalRead,
                                         CalWrite, UserRead, UserWrite, LogToggle};
        const Kind kind = Order[rng() % std::size(Order)];
        idleLines = 0;
        if (kind == LogToggle) {
            auto *start = d.widget<QPushButton>("pushButtonLogStart");
            (start->isEnabled() ? start : d.widget<QPushButton>("pushButtoLogStop"))->click();
            ++logToggles;
            return;
        }
        static const char *const Buttons[] = {"pushButtonApply", "pushButtonOnOff",
                                              "pushButtonReadCalibr", "pushButtonApplyCalibr",
                                              "pushButtonReadUserParam", "pushButtonApplyUserParam"};
        static const quint8 Commands[] = {Setpoints, Output, Calibration, Calibration, UserParams, UserParams};
        auto *button = d.widget<QPushButton>(Buttons[kind]);
        if (!button->isEnabled())
            return;  // a write that waits for a good read of its page
        command = Commands[kind];
        write = kind != CalRead && kind != UserRead;
        maxTries = kind == Apply || kind == Switch ? 4 : 1;
        tries = 0;
        const int page = kind == Apply ? 1 : kind == CalWrite ? 2 : kind == UserWrite ? 3 : -1;
        if (page > 0) {
            for (QObject *box : boxesOf.at(page)) {
                const double low = box->property("minimum").toDouble();
                const double high = box->property("maximum").toDouble();
                box->setProperty("value", std::uniform_real_distribution<double>(low, high)(rng));
            }
            typed[page] = shown(page);
        }
        boxesBefore = boxes->seen.size();
        answeredBefore = answered();
        age.start();
        pending = true;
        button->click();
    }

    bool boxShown() const
    {
        for (int i = boxesBefore; i < boxes->seen.size(); ++i) {
            if (boxes->seen.at(i).window == d.window.get())
                return true;
        }
        return false;
    }
    bool outcomeShown() const
    {
        return boxShown() || answered() > answeredBefore
               || (readingBack && replies.value(command).size() > readBackBefore);
    }

    void judge()
    {
        pending = false;
        outcomeAt.invalidate();
        const bool readBack = readingBack;
        readingBack = false;
        const QString failureText = write ? WriteFailure : ReadFailure;
        int failureBoxes = 0, otherBoxes = 0;
        for (int i = boxesBefore; i < boxes->seen.size(); ++i) {
            if (boxes->seen.at(i).window == d.window.get())
                ++(boxes->seen.at(i).text.section(QLatin1Char('\n'), 0, 0) == failureText ? failureBoxes : otherBoxes);
        }
        const QString what = QStringLiteral("command %1, %2 tries, %3 failure boxes: ").arg(command).arg(tries).arg(failureBoxes);
        if (otherBoxes > 0)
            violations.append(what + QStringLiteral("another box of this window opened"));
        else if (failureBoxes > 1)
            violations.append(what + QStringLiteral("more than one failure box"));
        // A try of the window's need not put its request on the line: after
        // an unanswered one, the link may first read another command, or
        // only listen to a line that has stopped answering.
        else if (failureBoxes == 1 && tries < 1)
            violations.append(what + QStringLiteral("failure shown before any try"));
        else if (failureBoxes == 0 && answered() == answeredBefore
                 && !(readBack && replies.value(command).size() > readBackBefore))
            violations.append(what + QStringLiteral("ended silently: no intact reply was sent"));
        else
            ++(failureBoxes ? failed : acknowledged);
    }

    bool logsAdc;
    const MessageBoxCloser *boxes;
    std::mt19937 rng;
    QTimer sampler;
    QList<QList<QObject *>> boxesOf;
    QList<QList<double>> initial, typed;
    QString initialDisplays;
    int lastMatch[std::size(Pages)] = {-1, -1, -1, -1};
    QHash<quint8, int> acks;
    QSet<QString> displayLog, adcLog;
    // The request under way.
    bool pending = false, write = false, readingBack = false;
    quint8 command = 0;
    int maxTries = 1, tries = 0, boxesBefore = 0, answeredBefore = 0, idleLines = 0;
    int readBackBefore = 0;
    QElapsedTimer age;
    QElapsedTimer outcomeAt;
};

class SoakTest : public QObject
{
    Q_OBJECT

private slots:
    void watchKnowsTheWindowsValues();
    void faultySuppliesNeverShowForeignValues();
};

// The watch itself: a clean traceable supply's replies pass it, and a value no
// reply gave is seen, on a page and in the log.
void SoakTest::watchKnowsTheWindowsValues()
{
    MessageBoxCloser boxes;
    VirtualSupply::Options options;
    options.traceable = true;
    Rig rig(options, false, &boxes);
    QVERIFY(rig.d.supplyOpen);
    rig.connectWindow();
    QTRY_VERIFY(rig.replies.value(Status).size() >= 1 && rig.replies.value(0x10).size() >= 1);
    QTest::qWait(100);
    QVERIFY2(rig.violations.isEmpty(), qPrintable(rig.violations.join('\n')));

    rig.d.widget<QDoubleSpinBox>("doubleSpinBoxVin")->setValue(12.3);
    QTRY_VERIFY(!rig.violations.isEmpty());
    QVERIFY(rig.violations.first().startsWith(QStringLiteral("measurements")));
    QVERIFY(rig.foreignLogLines().isEmpty());
    rig.d.widget<QTextEdit>("textEditLog")->append(QStringLiteral("12:00:00 1,234 0,5678"));
    QCOMPARE(rig.foreignLogLines(), QStringList{QStringLiteral("1.234 0.5678")});
}

void SoakTest::faultySuppliesNeverShowForeignValues()
{
    MessageBoxCloser boxes;
    std::vector<std::unique_ptr<Rig>> rigs;
    for (int i = 0; i < Windows; ++i) {
        VirtualSupply::Options options;
        options.traceable = true;
        options.seed = quint32(1001 + i);
        options.drop = options.corrupt = options.late = 0.08;
        options.split = 0.3;
        options.noise = 0.2;
        rigs.push_back(std::make_unique<Rig>(options, i % 2 == 1, &boxes));
        QVERIFY(rigs.back()->d.supplyOpen);
    }
    for (auto &rig : rigs)
        rig->connectWindow();
    for (auto &rig : rigs)
        QTRY_VERIFY(rig->connected());
    auto transactions = [&rigs] {
        int n = 0;
        for (auto &rig : rigs)
            n += rig->transactions();
        return n;
    };

    // Warm up: every page, log and box has been built and drawn once.
    QTRY_VERIFY_WITH_TIMEOUT(transactions() >= 4 * Windows, 10000);
    QTest::qWait(2000);
    const qint64 rssBefore = MemoryKb(QCoreApplication::applicationPid(), "VmRSS:");
    for (auto &rig : rigs)
        rig->running = true;
    QElapsedTimer run;
    run.start();
    QTRY_VERIFY_WITH_TIMEOUT(transactions() >= TransactionsWanted, 100000);
    for (auto &rig : rigs)
        rig->running = false;
    // Lets the last requests end and be judged.
    QTest::qWait(2500);
    const qint64 rssAfter = MemoryKb(QCoreApplication::applicationPid(), "VmRSS:");

    int acknowledged = 0, failed = 0, toggles = 0, samples = 0, logLines = 0;
    for (auto &rig : rigs) {
        acknowledged += rig->acknowledged;
        failed += rig->failed;
        toggles += rig->logToggles;
        samples += rig->samples;
        QVERIFY2(rig->violations.isEmpty(), qPrintable(rig->violations.join('\n')));
        const QStringList foreignLog = rig->foreignLogLines();
        QVERIFY2(foreignLog.isEmpty(), qPrintable(foreignLog.join('\n')));
        QVERIFY(rig->connected());
        logLines += rig->d.widget<QTextEdit>("textEditLog")->toPlainText().count(QLatin1Char('\n'));
    }
    for (const MessageBoxCloser::Seen &box : boxes.seen)
        QVERIFY2(box.text.section(QLatin1Char('\n'), 0, 0) == WriteFailure
                     || box.text.section(QLatin1Char('\n'), 0, 0) == ReadFailure,
                 qPrintable(box.text));

    qInfo("%d transactions in %.1f s over %d windows; %d requests acknowledged, %d failed "
          "with their box; %d log starts and stops, %d log lines; %d looks at the pages; "
          "resident memory %lld kB after warm-up, %lld kB at the end",
          transactions(), run.elapsed() / 1000.0, Windows, acknowledged, failed, toggles,
          logLines, samples, rssBefore, rssAfter);
    QVERIFY(transactions() >= 1500);
    // The faults were felt and every kind of outcome occurred.
    QVERIFY(acknowledged > 0 && failed > 0 && logLines > 0);
    QVERIFY(rssBefore > 0 && rssAfter > 0);
    if (ResidentMemoryIsMeaningful)
        QVERIFY2(rssAfter - rssBefore < 10 * 1024, "resident memory grew by 10 MB or more");
}

PANEL_TEST_MAIN(SoakTest)
#include "tst_soak.moc"
