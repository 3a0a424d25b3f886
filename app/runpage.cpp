#include "runpage.h"
#include "programfaultwords.h"

#include "savefiledialog.h"
#include "units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// In the order of RunComparison; the quantity box's rows after its first
// ("—", no limit) follow RunQuantity's.
const char *const ComparisonWords[] = {"<", "<=", ">", ">="};

// The abort's reason as the recording has it ("abort no answer"), in words.
QString AbortText(const QString &reason)
{
    const QString what = reason.section(QLatin1Char(' '), 1);
    if (what == QLatin1String("no answer"))
        return RunPage::tr("источник не отвечает");
    if (what == QLatin1String("port lost"))
        return RunPage::tr("порт потерян");
    if (what == QLatin1String("write not confirmed"))
        return RunPage::tr("источник не подтвердил запись");
    return reason;
}

QString FormatDuration(qint64 ms)
{
    const qint64 seconds = (ms + 999) / 1000;
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

}  // namespace

RunPage::RunPage(QSettings *store, RunTransport *transport, QWidget *parent)
    : QWidget(parent)
    , store(store)
    , transport(transport)
{
    setObjectName(QStringLiteral("tabRun"));
    BuildLayout();
    portDownTimer = new QTimer(this);
    portDownTimer->setInterval(PortDownPollMs);
    connect(portDownTimer, &QTimer::timeout, this, &RunPage::PollWhilePortDown);
    connect(programButton, &QToolButton::clicked, this, &RunPage::ChooseProgram);
    connect(programEdit, &QLineEdit::returnPressed, this, &RunPage::LoadProgram);
    connect(recordButton, &QToolButton::clicked, this, &RunPage::ChooseRecording);
    connect(startButton, &QPushButton::clicked, this, &RunPage::startClicked);
    connect(stopButton, &QPushButton::clicked, this, &RunPage::stop);
    LoadChoices();
    if (!programEdit->text().isEmpty())
        LoadProgram();
    SetRunningLook(false);
}

RunPage::~RunPage()
{
    SaveChoices();
}

void RunPage::BuildLayout()
{
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(4, 4, 4, 4);
    page->setSpacing(2);

    auto *programRow = new QHBoxLayout;
    programEdit = new QLineEdit;
    programEdit->setObjectName(QStringLiteral("runProgramEdit"));
    programEdit->setPlaceholderText(tr("без программы: только запись"));
    programButton = new QToolButton;
    programButton->setText(tr("…"));
    programButton->setObjectName(QStringLiteral("runProgramButton"));
    programButton->setToolTip(tr("Открыть программу"));
    programRow->addWidget(new QLabel(tr("Программа:")));
    programRow->addWidget(programEdit, 1);
    programRow->addWidget(programButton);
    page->addLayout(programRow);

    stepList = new QListWidget;
    stepList->setObjectName(QStringLiteral("runStepList"));
    stepList->setFixedHeight(58);
    stepList->setSelectionMode(QAbstractItemView::NoSelection);
    stepList->setFocusPolicy(Qt::NoFocus);
    page->addWidget(stepList);

    auto *repeatRow = new QHBoxLayout;
    repeatBox = new QSpinBox;
    repeatBox->setObjectName(QStringLiteral("runRepeatBox"));
    repeatBox->setRange(0, 99999);
    repeatBox->setValue(1);
    repeatBox->setSpecialValueText(tr("∞"));
    keepOutputBox = new QCheckBox(tr("Не выключать выход"));
    keepOutputBox->setToolTip(tr("В конце программы и по «Стоп» выход остаётся включённым"));
    keepOutputBox->setObjectName(QStringLiteral("runKeepOutputBox"));
    intervalBox = new QSpinBox;
    intervalBox->setObjectName(QStringLiteral("runIntervalBox"));
    intervalBox->setRange(0, 3600);
    intervalBox->setSuffix(tr(" с"));
    intervalBox->setSpecialValueText(tr("все"));
    intervalBox->setToolTip(tr("Строка записи на каждое чтение состояния или не чаще чем раз в столько секунд"));
    repeatRow->addWidget(new QLabel(tr("Повторов:")));
    repeatRow->addWidget(repeatBox);
    repeatRow->addStretch(1);
    repeatRow->addWidget(new QLabel(tr("Строки:")));
    repeatRow->addWidget(intervalBox);
    page->addLayout(repeatRow);
    page->addWidget(keepOutputBox);

    // How long a silent supply, a lost port and the output off at an end
    // are waited for.
    auto secondsBox = [](const char *name, int least, int most) {
        auto *box = new QSpinBox;
        box->setObjectName(QLatin1String(name));
        box->setRange(least, most);
        box->setSuffix(tr(" с"));
        return box;
    };
    auto *waitRow = new QHBoxLayout;
    silenceBox = secondsBox("runSilenceBox", 3, 3600);
    silenceBox->setToolTip(tr("Сколько секунд источник может молчать, прежде чем прогон прервётся с выключением выхода"));
    reconnectBox = new QCheckBox(tr("Ждать связь"));
    reconnectBox->setObjectName(QStringLiteral("runReconnectBox"));
    reconnectBox->setToolTip(tr("Потерянный порт открывается заново, молчащий источник ожидается — не дольше указанного"));
    reconnectWithinBox = secondsBox("runReconnectWithinBox", 1, 86400);
    offRetryBox = secondsBox("runOffRetryBox", 1, 3600);
    offRetryBox->setToolTip(tr("Сколько секунд выключение выхода повторяется, пока источник не отвечает"));
    auto *silenceLabel = new QLabel(tr("Тишина:"));
    silenceLabel->setToolTip(silenceBox->toolTip());
    auto *offRetryLabel = new QLabel(tr("Выключать:"));
    offRetryLabel->setToolTip(offRetryBox->toolTip());
    waitRow->addWidget(silenceLabel);
    waitRow->addWidget(silenceBox);
    waitRow->addStretch(1);
    waitRow->addWidget(offRetryLabel);
    waitRow->addWidget(offRetryBox);
    page->addLayout(waitRow);
    auto *reconnectRow = new QHBoxLayout;
    reconnectRow->addWidget(reconnectBox);
    reconnectRow->addWidget(reconnectWithinBox);
    reconnectRow->addStretch(1);
    page->addLayout(reconnectRow);

    auto *limits = new QGridLayout;
    limits->setHorizontalSpacing(2);
    limits->setVerticalSpacing(2);
    const QStringList quantities = {tr("—"), tr("Напряжение, В"), tr("Ток, А"), tr("Мощность, Вт"),
                                    tr("Температура, °C"), tr("Заряд, А·ч"), tr("Энергия, Вт·ч"),
                                    tr("Время, с"), tr("Время шага, с"), tr("Заряд шага, А·ч"),
                                    tr("Энергия шага, Вт·ч")};
    auto *limitsTitle = new QLabel(tr("Пределы (выключают выход):"));
    page->addWidget(limitsTitle);
    for (int i = 0; i < LimitRows; ++i) {
        LimitRow &row = limitRows[i];
        row.quantity = new QComboBox;
        row.quantity->setObjectName(QStringLiteral("runLimitQuantity%1").arg(i + 1));
        row.quantity->addItems(quantities);
        row.comparison = new QComboBox;
        row.comparison->setObjectName(QStringLiteral("runLimitComparison%1").arg(i + 1));
        for (const char *word : ComparisonWords)
            row.comparison->addItem(QString::fromLatin1(word));
        row.value = new QDoubleSpinBox;
        row.value->setObjectName(QStringLiteral("runLimitValue%1").arg(i + 1));
        row.value->setRange(0, 999999.999);
        row.value->setDecimals(3);
        row.value->setButtonSymbols(QAbstractSpinBox::NoButtons);
        limits->addWidget(row.quantity, i, 0);
        limits->addWidget(row.comparison, i, 1);
        limits->addWidget(row.value, i, 2);
    }
    limits->setColumnStretch(0, 1);
    page->addLayout(limits);

    auto *recordRow = new QHBoxLayout;
    recordEdit = new QLineEdit;
    recordEdit->setObjectName(QStringLiteral("runRecordEdit"));
    recordButton = new QToolButton;
    recordButton->setText(tr("…"));
    recordButton->setToolTip(tr("Выбрать файл записи"));
    recordButton->setObjectName(QStringLiteral("runRecordButton"));
    appendBox = new QCheckBox(tr("Дописать в существующий файл"));
    appendBox->setObjectName(QStringLiteral("runAppendBox"));
    recordRow->addWidget(new QLabel(tr("Запись:")));
    recordRow->addWidget(recordEdit, 1);
    recordRow->addWidget(recordButton);
    page->addLayout(recordRow);
    page->addWidget(appendBox);

    auto *buttons = new QHBoxLayout;
    startButton = new QPushButton(tr("Старт"));
    startButton->setObjectName(QStringLiteral("runStartButton"));
    stopButton = new QPushButton(tr("Стоп"));
    stopButton->setObjectName(QStringLiteral("runStopButton"));
    buttons->addWidget(startButton);
    buttons->addWidget(stopButton);
    page->addLayout(buttons);

    progressLabel = new QLabel;
    progressLabel->setObjectName(QStringLiteral("runProgressLabel"));
    messageLabel = new QLabel;
    messageLabel->setObjectName(QStringLiteral("runMessageLabel"));
    messageLabel->setWordWrap(true);
    page->addWidget(progressLabel);
    page->addWidget(messageLabel);
    page->addStretch(1);
}

void RunPage::LoadChoices()
{
    store->beginGroup(QStringLiteral("run"));
    programEdit->setText(store->value(QStringLiteral("program")).toString());
    repeatBox->setValue(store->value(QStringLiteral("repeat"), 1).toInt());
    keepOutputBox->setChecked(store->value(QStringLiteral("keepOutput"), false).toBool());
    intervalBox->setValue(store->value(QStringLiteral("interval"), 0).toInt());
    const RunPolicy defaults;
    silenceBox->setValue(store->value(QStringLiteral("maxSilence"), int(defaults.maxSilenceMs / 1000)).toInt());
    reconnectBox->setChecked(store->value(QStringLiteral("reconnect"), true).toBool());
    reconnectWithinBox->setValue(
        store->value(QStringLiteral("reconnectWithin"), int(defaults.reconnectWithinMs / 1000)).toInt());
    offRetryBox->setValue(store->value(QStringLiteral("offRetry"), int(defaults.offRetryMs / 1000)).toInt());
    recordEdit->setText(store->value(QStringLiteral("record")).toString());
    appendBox->setChecked(store->value(QStringLiteral("append"), false).toBool());
    for (int i = 0; i < LimitRows; ++i) {
        const QString key = QStringLiteral("limit%1/").arg(i + 1);
        const int quantity = store->value(key + QStringLiteral("quantity"), 0).toInt();
        const int comparison = store->value(key + QStringLiteral("comparison"), 0).toInt();
        limitRows[i].quantity->setCurrentIndex(qBound(0, quantity, limitRows[i].quantity->count() - 1));
        limitRows[i].comparison->setCurrentIndex(qBound(0, comparison, limitRows[i].comparison->count() - 1));
        limitRows[i].value->setValue(store->value(key + QStringLiteral("value"), 0.0).toDouble());
    }
    store->endGroup();
}

void RunPage::SaveChoices() const
{
    store->beginGroup(QStringLiteral("run"));
    store->setValue(QStringLiteral("program"), programEdit->text());
    store->setValue(QStringLiteral("repeat"), repeatBox->value());
    store->setValue(QStringLiteral("keepOutput"), keepOutputBox->isChecked());
    store->setValue(QStringLiteral("interval"), intervalBox->value());
    store->setValue(QStringLiteral("maxSilence"), silenceBox->value());
    store->setValue(QStringLiteral("reconnect"), reconnectBox->isChecked());
    store->setValue(QStringLiteral("reconnectWithin"), reconnectWithinBox->value());
    store->setValue(QStringLiteral("offRetry"), offRetryBox->value());
    store->setValue(QStringLiteral("record"), recordEdit->text());
    store->setValue(QStringLiteral("append"), appendBox->isChecked());
    for (int i = 0; i < LimitRows; ++i) {
        const QString key = QStringLiteral("limit%1/").arg(i + 1);
        store->setValue(key + QStringLiteral("quantity"), limitRows[i].quantity->currentIndex());
        store->setValue(key + QStringLiteral("comparison"), limitRows[i].comparison->currentIndex());
        store->setValue(key + QStringLiteral("value"), limitRows[i].value->value());
    }
    store->endGroup();
}

void RunPage::ChooseProgram()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Программа прогона"), programEdit->text(),
                                                      tr("Программы (*.csv);;Все файлы (*)"));
    if (path.isEmpty())
        return;
    programEdit->setText(path);
    LoadProgram();
}

void RunPage::ChooseRecording()
{
    const QString path = ChooseSaveFile(this, tr("Файл записи"), recordEdit->text(),
                                        {tr("Записи (*.csv)"), tr("Все файлы (*)")}, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
    if (!path.isEmpty())
        recordEdit->setText(path);
}

void RunPage::LoadProgram()
{
    if (isActive())
        return;
    RunProgram program;
    if (ReadProgram(&program))
        messageLabel->setText(program.steps.isEmpty() ? tr("Без программы: только запись")
                                                      : tr("Шагов в программе: %1").arg(program.steps.size()));
}

bool RunPage::ReadProgram(RunProgram *program)
{
    const QString path = programEdit->text().trimmed();
    *program = path.isEmpty() ? RunProgram() : LoadRunProgram(path);
    if (!program->ok()) {
        stepList->clear();
        messageLabel->setText(tr("Программа не принята: %1").arg(ProgramFaultWords(*program)));
        return false;
    }
    ShowSteps(*program);
    return true;
}

void RunPage::ShowSteps(const RunProgram &program)
{
    stepList->clear();
    markedStep = 0;
    for (int i = 0; i < program.steps.size(); ++i) {
        const RunStep &step = program.steps.at(i);
        QString text = tr("%1. %2 В %3 А %4")
                           .arg(i + 1)
                           .arg(step.volts, 0, 'f', 2)
                           .arg(step.amperes, 0, 'f', 3)
                           .arg(FormatDuration(step.durationMs));
        if (step.rampMs > 0)
            text += tr(" плавно %1").arg(FormatDuration(step.rampMs));
        if (!step.outputOn)
            text += tr(" выкл");
        if (step.until)
            text += tr(" до %1").arg(step.until->text());
        stepList->addItem(text);
    }
}

void RunPage::MarkStep(int step)
{
    if (step == markedStep)
        return;
    auto setMarked = [this](int row, bool marked) {
        QListWidgetItem *item = stepList->item(row);
        if (!item)
            return;
        QFont font = item->font();
        font.setBold(marked);
        item->setFont(font);
        const QString text = item->text();
        item->setText(marked ? QStringLiteral("▶ ") + text : text.mid(2));
        if (marked)
            stepList->scrollToItem(item);
    };
    if (markedStep > 0)
        setMarked(markedStep - 1, false);
    markedStep = step;
    if (markedStep > 0)
        setMarked(markedStep - 1, true);
}

QVector<RunCondition> RunPage::ChosenLimits() const
{
    QVector<RunCondition> limits;
    for (const LimitRow &row : limitRows) {
        const int quantity = row.quantity->currentIndex();
        if (quantity <= 0)
            continue;
        RunCondition limit;
        limit.quantity = RunQuantity(quantity - 1);
        limit.comparison = RunComparison(row.comparison->currentIndex());
        limit.value = row.value->value();
        limits.append(limit);
    }
    return limits;
}

bool RunPage::start(const Supply &supply)
{
    if (isActive() || !connected)
        return false;
    if (!supply.heldBy.isEmpty()) {
        messageLabel->setText(supply.heldBy);
        return false;
    }
    SaveChoices();
    RunSetup setup;
    if (!ReadProgram(&setup.program))
        return false;
    setup.limits = ChosenLimits();
    for (const RunCondition &limit : setup.limits) {
        if (!ImplausibleRunCondition(limit).isNone()) {
            messageLabel->setText(tr("Предел %1 не принят: у источника нет таких значений (0–30 В, 0–10 А, "
                                     "до 300 Вт; заряд, энергия и время не бывают отрицательными)")
                                      .arg(limit.text()));
            return false;
        }
    }
    setup.repeat = repeatBox->value();
    setup.keepOutput = keepOutputBox->isChecked();
    // 0: every status reading makes a row, twice a second.
    setup.recordIntervalMs = qint64(intervalBox->value()) * 1000;
    setup.recordPath = recordEdit->text().trimmed();
    if (setup.recordPath.isEmpty()) {
        messageLabel->setText(tr("Не выбран файл записи"));
        return false;
    }
    setup.recordMode = appendBox->isChecked() ? RunRecording::Mode::Append : RunRecording::Mode::New;
    if (setup.recordMode == RunRecording::Mode::New && !ChooseRecordMode(setup.recordPath, &setup.recordMode))
        return false;
    setup.header.software = QStringLiteral("velkaro %1").arg(QCoreApplication::applicationVersion()).trimmed();
    setup.header.port = supply.port;
    setup.header.address = supply.address;
    setup.header.start = QDateTime::currentDateTime();
    setup.header.programFile = setup.program.steps.isEmpty() ? QString() : programEdit->text().trimmed();
    for (const RunCondition &limit : setup.limits)
        setup.header.limits << limit.text();

    driver = std::make_unique<RunDriver>(*transport, ChosenPolicy(), [this] { return Now(); });
    connect(driver.get(), &RunDriver::eventRecorded, this, &RunPage::RunEventRecorded);
    connect(driver.get(), &RunDriver::finished, this, &RunPage::RunFinished);
    clock.start();
    // What the supply holds now is not known here (the panel's boxes may
    // hold unsent values), so the first step's set-points are always written.
    if (!driver->start(setup, Now(), setup.header.start)) {
        const std::optional<RecordingHolder> holder = driver->engine().recordingHolder();
        if (!holder)
            messageLabel->setText(tr("Запись не открыта: %1").arg(driver->engine().errorString()));
        else if (holder->program.isEmpty())
            messageLabel->setText(tr("Файл записи %1 занят другой программой").arg(setup.recordPath));
        else
            messageLabel->setText(tr("Файл записи %1 занят: его пишет %2 (pid %3)")
                                      .arg(setup.recordPath, holder->program)
                                      .arg(holder->pid));
        driver.reset();
        return false;
    }
    SetRunningLook(true);
    ShowProgress();
    return true;
}

RunPolicy RunPage::ChosenPolicy() const
{
    RunPolicy policy;
    policy.readIntervalMs = ReadIntervalMs;
    policy.maxSilenceMs = qint64(silenceBox->value()) * 1000;
    policy.reconnect = reconnectBox->isChecked();
    policy.reconnectWithinMs = qint64(reconnectWithinBox->value()) * 1000;
    policy.offRetryMs = qint64(offRetryBox->value()) * 1000;
    return policy;
}

bool RunPage::ChooseRecordMode(const QString &path, RunRecording::Mode *mode)
{
    const QFileInfo file(path);
    if (!file.isFile() || file.size() == 0)
        return true;
    QMessageBox box(QMessageBox::Question, tr("Запись"),
                    tr("Файл записи уже есть и не пуст:\n%1").arg(path), QMessageBox::NoButton, this);
    QPushButton *append = box.addButton(tr("Дописать"), QMessageBox::AcceptRole);
    QPushButton *replace = box.addButton(tr("Заменить…"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(append);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == append) {
        *mode = RunRecording::Mode::Append;
        return true;
    }
    if (box.clickedButton() != replace)
        return false;
    const auto answer = QMessageBox::warning(
        this, tr("Запись"), tr("Прежняя запись в файле %1 пропадёт. Заменить её?").arg(path),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    *mode = RunRecording::Mode::New;
    return true;
}

void RunPage::stop()
{
    if (!isActive())
        return;
    driver->stop(Now());
    ShowProgress();
}

bool RunPage::tick()
{
    if (!isActive())
        return false;
    const bool took = driver->poll(Now());
    ShowProgress();
    return took;
}

void RunPage::feedMeasurement(const MeasurementRecord &measurement)
{
    if (isActive())
        driver->feedMeasurement(measurement, Now());
}

void RunPage::portClosed()
{
    if (isActive())
        portDownTimer->start();
}

void RunPage::portRestored()
{
    portDownTimer->stop();
}

void RunPage::PollWhilePortDown()
{
    tick();
}

void RunPage::setConnected(bool isConnected)
{
    connected = isConnected;
    SetRunningLook(isActive());
}

bool RunPage::takeMessage(const QString &text)
{
    if (!isActive())
        return false;
    messageLabel->setText(text);
    return true;
}

bool RunPage::ConfirmStop(const QString &question)
{
    // Escape keeps the run.
    const auto answer = QMessageBox::question(this, tr("Прогон"), question, QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::No);
    if (answer != QMessageBox::Yes || !isActive())
        return false;
    stop();
    return true;
}

bool RunPage::confirmClose(int othersOnLine)
{
    if (!isActive())
        return true;
    if (closeWanted || disconnectWanted)
        return false;
    QString question = keepOutputBox->isChecked() ? tr("Идёт прогон. Остановить его и закрыть окно?")
                                                  : tr("Идёт прогон. Остановить его, выключить выход и закрыть окно?");
    if (othersOnLine > 0) {
        question = keepOutputBox->isChecked()
                       ? tr("Идёт прогон, линией пользуются и другие программы (%1). Остановить прогон и "
                            "оставить линию им?")
                       : tr("Идёт прогон, линией пользуются и другие программы (%1). Остановить прогон, "
                            "выключить выход этого источника и оставить линию им? Их источники останутся "
                            "как есть.");
        question = question.arg(othersOnLine);
    }
    if (!ConfirmStop(question))
        return !isActive();
    closeWanted = isActive();
    return !closeWanted;
}

bool RunPage::confirmDisconnect()
{
    if (!isActive())
        return true;
    if (closeWanted || disconnectWanted)
        return false;
    if (!ConfirmStop(keepOutputBox->isChecked() ? tr("Идёт прогон. Остановить его и отключиться?")
                                                : tr("Идёт прогон. Остановить его, выключить выход и отключиться?")))
        return !isActive();
    disconnectWanted = isActive();
    return !disconnectWanted;
}

void RunPage::RunEventRecorded(const QString &event)
{
    messageLabel->setText(tr("Событие: %1").arg(EventText(event)));
}

QString RunPage::EventText(const QString &event)
{
    const QString rest = event.section(QLatin1Char(' '), 1);
    if (event == QLatin1String("start"))
        return tr("начало");
    if (event == QLatin1String("end"))
        return tr("конец программы");
    if (event == QLatin1String("stop"))
        return tr("остановка");
    if (event == QLatin1String("gap"))
        return tr("пропуск в показаниях");
    if (event == QLatin1String("port lost"))
        return tr("порт потерян");
    if (event == QLatin1String("reconnected"))
        return tr("порт снова открыт");
    if (event == QLatin1String("no answer"))
        return tr("источник не отвечает");
    if (event == QLatin1String("output off"))
        return tr("выход выключен");
    if (event == QLatin1String("output unknown"))
        return tr("состояние выхода неизвестно");
    if (event.startsWith(QLatin1String("abort ")))
        return tr("прервано: %1").arg(AbortText(event));
    if (event.startsWith(QLatin1String("step ")))
        return tr("шаг %1").arg(rest);
    if (event.startsWith(QLatin1String("limit ")))
        return tr("предел %1").arg(rest);
    if (event.startsWith(QLatin1String("until ")))
        return tr("условие шага %1").arg(rest);
    return event;
}

QString RunPage::SummaryText(const RunSummary &s) const
{
    QString output;
    switch (s.output) {
    case RunOutputState::OffConfirmed: output = tr("выключен (подтверждено)"); break;
    case RunOutputState::KeptOn: output = tr("оставлен включённым"); break;
    case RunOutputState::Unknown: output = tr("неизвестно"); break;
    }
    const QString counters = tr("%1 А·ч, %2 Вт·ч, выход: %3")
                                 .arg(s.ampereHours, 0, 'f', 6)
                                 .arg(s.wattHours, 0, 'f', 6)
                                 .arg(output);
    if (s.stepCount == 0)
        return tr("Итог за %1: только запись, %2").arg(FormatDuration(s.durationMs), counters);
    return tr("Итог за %1: шагов выполнено %2, проход %3 из %4, %5")
        .arg(FormatDuration(s.durationMs))
        .arg(s.stepsDone)
        .arg(s.pass)
        .arg(s.passes > 0 ? QString::number(s.passes) : tr("∞"))
        .arg(counters);
}

void RunPage::RunFinished(RunOutcome outcome)
{
    portDownTimer->stop();
    const RunEngine &engine = driver->engine();
    const QString reason = engine.reason();
    const QString output = engine.outputEnd() == OutputEnd::Off       ? tr("выход выключен")
                           : engine.outputEnd() == OutputEnd::Unknown ? tr("состояние выхода неизвестно")
                                                                      : tr("выход оставлен");
    QString text;
    switch (outcome) {
    case RunOutcome::Completed:
        text = tr("Программа выполнена; %1").arg(output);
        break;
    case RunOutcome::Stopped:
        text = tr("Прогон остановлен; %1").arg(output);
        break;
    case RunOutcome::LimitTripped:
        text = tr("Сработал предел: %1; %2").arg(reason.section(QLatin1Char(' '), 1), output);
        break;
    case RunOutcome::RecordingFailed:
        text = tr("Запись не удалась, прогон прерван: %1; %2").arg(reason, output);
        break;
    case RunOutcome::Aborted:
    case RunOutcome::Running:
        text = tr("Прогон прерван: %1; %2").arg(AbortText(reason), output);
        break;
    }
    text += QLatin1Char('\n') + SummaryText(engine.summary());
    messageLabel->setText(text);
    ShowProgress();
    SetRunningLook(false);
    if (closeWanted) {
        closeWanted = false;
        emit closeAllowed();
    }
    if (disconnectWanted) {
        disconnectWanted = false;
        emit disconnectAllowed();
    }
}

void RunPage::ShowProgress()
{
    if (!driver)
        return;
    const RunProgress p = driver->engine().progress(Now());
    QString line;
    if (p.stepCount > 0)
        line = tr("Шаг %1/%2, осталось %3, ").arg(p.step).arg(p.stepCount).arg(FormatDuration(p.stepLeftMs));
    line += tr("прошло %1\n%2 А·ч  %3 Вт·ч  %4 Вт")
                .arg(FormatDuration(p.elapsedMs))
                .arg(p.ampereHours, 0, 'f', 4)
                .arg(p.wattHours, 0, 'f', 4)
                .arg(p.watts ? QString::number(*p.watts, 'f', 2) : QStringLiteral("—"));
    // The last values stay, but say that they are no longer live.
    if (isActive() && driver->isSilent())
        line += tr("  нет ответа");
    progressLabel->setText(line);
    MarkStep(isActive() ? p.step : 0);
}

void RunPage::SetRunningLook(bool running)
{
    startButton->setEnabled(connected && !running);
    stopButton->setEnabled(running);
    for (QWidget *w : std::initializer_list<QWidget *>{programEdit, programButton, repeatBox, intervalBox, keepOutputBox,
                                                        silenceBox, reconnectBox, reconnectWithinBox, offRetryBox,
                                                        recordEdit, recordButton, appendBox})
        w->setEnabled(!running);
    for (const LimitRow &row : limitRows) {
        row.quantity->setEnabled(!running);
        row.comparison->setEnabled(!running);
        row.value->setEnabled(!running);
    }
    emit runningChanged(running);
}
