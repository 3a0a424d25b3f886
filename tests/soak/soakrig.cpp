#include "soakrig.h"

#include "dialogsettingslog.h"
#include "mainwindow.h"
#include "operatorscript.h"
#include "replyledger.h"
#include "windowview.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QToolBar>
#include <QRadioButton>

namespace {

// Often enough that a wrong value, which would stay up until the next good
// reading, cannot slip between two looks.
constexpr int SampleMs = 20;
constexpr int ExamplesKept = 10;

}  // namespace

SoakRig::SoakRig(const VirtualSupply::Options &options, bool logsAdc, const BoxWatcher *boxes,
                 QObject *parent)
    : QObject(parent),
      supplyPtr(std::make_unique<VirtualSupply>(options)),
      windowPtr(std::make_unique<MainWindow>()),
      view(std::make_unique<WindowView>(windowPtr.get())),
      ledgerPtr(std::make_unique<ReplyLedger>(supplyPtr.get(), view.get())),
      scriptPtr(std::make_unique<OperatorScript>(windowPtr.get(), supplyPtr.get(),
                                                 ledgerPtr.get(), view.get(), boxes,
                                                 options.seed)),
      logsAdc(logsAdc)
{
    initialStatus = view->status();
    initialMeasurements = view->measurements();

    // The log options take effect at the next tick, dialog open or not.
    auto *dialog = windowPtr->findChild<DialogSettingsLog *>();
    Q_ASSERT(dialog);
    dialog->findChild<QComboBox *>(QStringLiteral("comboBoxLogValue"))->setCurrentIndex(logsAdc);
    dialog->findChild<QCheckBox *>(QStringLiteral("checkBoxAddTime"))->setChecked(logsAdc);
    dialog->findChild<QRadioButton *>(QStringLiteral("radioButtonComme"))->setChecked(!logsAdc);

    windowPtr->show();
    connect(&sampler, &QTimer::timeout, this, &SoakRig::sample);
}

SoakRig::~SoakRig() = default;

bool SoakRig::open(QString *error)
{
    return supplyPtr->open(error);
}

void SoakRig::connectWindow()
{
    // The port box is the tool bar's; the chart page has a box of its own.
    auto *portBox = windowPtr->findChild<QToolBar *>()->findChild<QComboBox *>();
    portBox->setEditText(supplyPtr->portPath());
    for (QAction *action : windowPtr->findChildren<QAction *>()) {
        if (action->text() == QStringLiteral("Подключить"))
            action->trigger();
    }
    sampler.start(SampleMs);
}

bool SoakRig::connected() const
{
    for (QAction *action : windowPtr->findChildren<QAction *>()) {
        if (action->text() == QStringLiteral("Отключить"))
            return action->isEnabled();
    }
    return false;
}

void SoakRig::startOperator()
{
    scriptPtr->start();
}

void SoakRig::stopOperator()
{
    scriptPtr->stop();
}

void SoakRig::check(const char *page, const QString &shown, const QSet<QString> &sent,
                    const QString &typed)
{
    if (shown == typed || sent.contains(shown))
        return;
    ++foreignShown;
    if (foreignExamples.size() < ExamplesKept)
        foreignExamples.append(QStringLiteral("%1 shows %2").arg(QLatin1String(page), shown));
}

void SoakRig::sample()
{
    ++samples;
    const ReplyLedger &l = *ledgerPtr;
    const OperatorScript &s = *scriptPtr;
    check("displays", view->status(), l.status, initialStatus);
    check("measurements", view->measurements(), l.measurements, initialMeasurements);
    check("set-points", view->setpoints(), l.setpoints, s.typedSetpoints);
    check("calibration", view->calibration(), l.calibration, s.typedCalibration);
    check("user parameters", view->userParams(), l.userParams, s.typedUserParams);
    scriptPtr->checkStuck();
}

QStringList SoakRig::foreignLogLines() const
{
    const QSet<QString> &sent = logsAdc ? ledgerPtr->adcLogValues : ledgerPtr->displayLogValues;
    QStringList foreign;
    for (const QString &value : view->logValues()) {
        if (!sent.contains(value))
            foreign.append(value);
    }
    return foreign;
}
