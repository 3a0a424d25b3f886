#include "operatorscript.h"

#include "boxwatcher.h"
#include "commandset.h"
#include "devicelink.h"
#include "mainwindow.h"
#include "replyledger.h"
#include "virtualsupply.h"
#include "windowview.h"

#include <QPushButton>

namespace {

const QString WriteFailure = QStringLiteral("Ошибка записи");
const QString ReadFailure = QStringLiteral("Ошибка чтения");

// The window gives up on a write of the set-points or the output after this
// many tries; parameter pages try once.
constexpr int SetpointTries = 4;
// Longer than any request can take: four tries of a tick each, with room for
// the other windows' waits that run inside this one's.
constexpr qint64 StuckMs = 8000;

const char *const KindNames[] = {"apply",        "output switch", "calibration read",
                                 "calibration write", "user read", "user write",
                                 "log toggle"};

}  // namespace

OperatorScript::OperatorScript(MainWindow *window, VirtualSupply *supply,
                               const ReplyLedger *ledger, WindowView *view,
                               const BoxWatcher *boxes, quint32 seed, QObject *parent)
    : QObject(parent), window(window), ledger(ledger), view(view), boxes(boxes), rng(seed)
{
    typedSetpoints = view->setpoints();
    typedCalibration = view->calibration();
    typedUserParams = view->userParams();
    connect(supply, &VirtualSupply::lineReceived, this, &OperatorScript::takeLine);
}

QPushButton *OperatorScript::button(const char *name) const
{
    return window->findChild<QPushButton *>(QLatin1String(name));
}

void OperatorScript::takeLine(const QByteArray &line)
{
    QByteArray bytes;
    if (DeviceLink::DecodeLine(line, bytes) < CommandSet::HeaderBytes) {
        violations.append(QStringLiteral("the window sent a line that does not decode: ")
                          + QString::fromLatin1(line));
        return;
    }
    const quint8 command = quint8(bytes.at(2));
    const quint8 access = quint8(bytes.at(3));

    if (pending) {
        if (command == request.command && access == request.access) {
            ++request.tries;
            if (request.tries > request.maxTries)
                violations.append(QStringLiteral("%1 tried %2 times")
                                      .arg(QLatin1String(KindNames[request.kind]))
                                      .arg(request.tries));
            return;
        }
        if (request.tries == 0)
            return;  // the tick under way when the operator clicked
        judge();
        pending = false;
        idleLines = 0;
        return;
    }

    if (!running)
        return;
    // A few ticks of monitoring between requests, so that displays and log
    // lines have readings to show.
    if (++idleLines >= int(rng() % 4) + 1)
        act();
}

int OperatorScript::replies(const Request &r) const
{
    return r.access == CommandSet::AccessWrite ? ledger->acks(r.command)
                                               : ledger->reads(r.command);
}

void OperatorScript::act()
{
    static constexpr Kind Order[] = {Apply, Apply, Apply, Switch, Switch, CalibrationRead,
                                     CalibrationWrite, UserRead, UserWrite, LogToggle};
    Kind kind = Order[rng() % (sizeof Order / sizeof Order[0])];
    idleLines = 0;
    // A page can be written only once it has been read in this connection.
    if (kind == CalibrationWrite && !button("pushButtonApplyCalibr")->isEnabled())
        kind = CalibrationRead;
    if (kind == UserWrite && !button("pushButtonApplyUserParam")->isEnabled())
        kind = UserRead;

    if (kind == LogToggle) {
        QPushButton *start = button("pushButtonLogStart");
        (start->isEnabled() ? start : button("pushButtoLogStop"))->click();
        ++logToggles;
        return;
    }

    request = Request{};
    request.kind = kind;
    request.maxTries = 1;
    request.failureText = WriteFailure;
    request.access = CommandSet::AccessWrite;
    const char *buttonName = nullptr;
    switch (kind) {
    case Apply:
        view->voltageSet()->setValue(std::uniform_real_distribution<double>(0, 30)(rng));
        view->currentSet()->setValue(std::uniform_real_distribution<double>(0, 9.999)(rng));
        typedSetpoints = view->setpoints();
        request.command = CommandSet::Setpoints;
        request.maxTries = SetpointTries;
        buttonName = "pushButtonApply";
        break;
    case Switch:
        request.command = CommandSet::Output;
        request.maxTries = SetpointTries;
        buttonName = "pushButtonOnOff";
        break;
    case CalibrationRead:
    case UserRead:
        request.command = kind == UserRead ? CommandSet::UserParams : CommandSet::Calibration;
        request.access = CommandSet::AccessRead;
        request.failureText = ReadFailure;
        buttonName = kind == UserRead ? "pushButtonReadUserParam" : "pushButtonReadCalibr";
        break;
    case CalibrationWrite:
    case UserWrite: {
        const bool user = kind == UserWrite;
        for (QSpinBox *box : user ? view->userParamBoxes() : view->calibrationBoxes()) {
            box->setValue(std::uniform_int_distribution<int>(box->minimum(),
                                                             box->maximum())(rng));
        }
        (user ? typedUserParams : typedCalibration) =
            user ? view->userParams() : view->calibration();
        request.command = user ? CommandSet::UserParams : CommandSet::Calibration;
        buttonName = user ? "pushButtonApplyUserParam" : "pushButtonApplyCalibr";
        break;
    }
    case LogToggle:
        break;
    }
    request.boxesBefore = boxes->seen.size();
    request.repliesBefore = replies(request);
    request.age.start();
    pending = true;
    button(buttonName)->click();
}

void OperatorScript::judge()
{
    const int failureBoxes = boxes->count(window, request.failureText, request.boxesBefore);
    const bool replied = replies(request) > request.repliesBefore;
    const QString what = QStringLiteral("%1 (command %2, %3 tries, %4 failure boxes): ")
                             .arg(QLatin1String(KindNames[request.kind]))
                             .arg(request.command, 2, 16, QLatin1Char('0'))
                             .arg(request.tries)
                             .arg(failureBoxes);
    // Boxes of other windows may open meanwhile; this window's own must be
    // the request's failure box only.
    int ownOther = 0;
    for (int i = request.boxesBefore; i < boxes->seen.size(); ++i)
        ownOther += boxes->seen.at(i).window == window
                    && boxes->seen.at(i).text != request.failureText;

    if (ownOther > 0) {
        violations.append(what + QStringLiteral("another box of this window opened"));
    } else if (failureBoxes == 1) {
        if (request.tries == request.maxTries)
            ++failed;
        else
            violations.append(what + QStringLiteral("failure shown before the last try"));
    } else if (failureBoxes == 0) {
        if (replied)
            ++acknowledged;
        else
            violations.append(what + QStringLiteral("ended silently: no intact reply was sent"));
    } else {
        violations.append(what + QStringLiteral("more than one failure box"));
    }
}

void OperatorScript::checkStuck()
{
    if (pending && request.age.elapsed() > StuckMs) {
        violations.append(QStringLiteral("%1 did not end within %2 ms (%3 tries)")
                              .arg(QLatin1String(KindNames[request.kind]))
                              .arg(StuckMs)
                              .arg(request.tries));
        pending = false;
    }
}
