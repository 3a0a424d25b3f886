#include "mainwindow.h"

#include "connection.h"
#include "devicelink.h"
#include "dialogsettingslog.h"
#include "elidinglineedit.h"
#include "lineruntransport.h"
#include "lineview.h"
#include "livechart.h"
#include "logclock.h"
#include "mainwindowform.h"
#include "noticeboxes.h"
#include "outputoffkey.h"
#include "pagewindow.h"
#include "panelsetpoints.h"
#include "parameterpages.h"
#include "pollcycle.h"
#include "portchoice.h"
#include "runpage.h"
#include "sharedline.h"
#include "supplyreadings.h"
#include "supplystate.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSettings>
#include <QStatusBar>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace {

const char LedOnRed[] = ":/new/prefix1/rec/LED_ON_RED.png";
const char LedOnGreen[] = ":/new/prefix1/rec/LED_ON_GREEN.png";

void MakeToolBarLabel(QLabel *label, int minimumWidth)
{
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont font = label->font();
    font.setWeight(75);
    // A point smaller than the window's: both captions fit the fixed width
    // beside the port box in either language.
    font.setPointSizeF(std::max(6.0, font.pointSizeF() - 1));
    label->setFont(font);
    label->setMinimumWidth(minimumWidth);
}

}  // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    form = new MainWindowForm;
    form->setup(this);
    portBox = new QComboBox;
    connection = new Connection(this);
    BuildRunTransport();
    settingsDialog = new DialogSettingsLog(this);
    notices = std::make_unique<NoticeBoxes>(this);
    chart = new LiveChart({form->qwtPlotChart, form->comboBoxChartSpan, form->pushButtonChartPause,
                           form->pushButtonChartSave},
                          this);

    // Typing is allowed too, for ports the system does not list (a virtual
    // port, a stable /dev/serial/by-id name); connecting uses the text.
    portBox->setEditable(true);
    // A path longer than the box is shown with its start left out, whole in
    // its tool tip.
    portBox->setLineEdit(new ElidingLineEdit);
    // The list stays the ports found here: a typed path is used, not kept.
    portBox->setInsertPolicy(QComboBox::NoInsert);
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        portBox->addItem(info.portName());

    slaveBox = new QSpinBox;
    slaveBox->setMaximum(255);
    slaveBox->setMinimum(0);
    LoadPortChoice(settingsDialog->Settings(), portBox, slaveBox);

    // The port box takes what the tool bar has left: a path needs more than
    // a port's short name.
    portBox->setFixedHeight(25);
    portBox->setMinimumWidth(60);
    portBox->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    slaveBox->setFixedHeight(25);
    slaveBox->setFixedWidth(45);
    TellLine();

    BuildToolBar();
    BuildOutputOffShortcut();

    form->tabWidget->setTabText(0, tr("Панель"));
    form->tabWidget->setTabText(1, tr("Лог"));
    form->tabWidget->setTabText(2, tr("АЦП"));
    form->tabWidget->setTabText(3, tr("Калибр."));
    form->tabWidget->setTabText(4, tr("UserMenu"));
    BuildPageWindows();
    BuildParts();

    form->label_cc->setPixmap(QPixmap(LedOnRed));
    form->label_cv->setPixmap(QPixmap(LedOnGreen));
    form->lcdNumberA->display(0);
    form->lcdNumberV->display(0);
    form->tab->setEnabled(false);
    // The page's own order: what to set, then apply, then the output.
    setTabOrder(form->doubleSpinBoxV, form->doubleSpinBoxA);
    setTabOrder(form->doubleSpinBoxA, form->pushButtonApply);
    setTabOrder(form->pushButtonApply, form->pushButtonOnOff);

    ConnectSignals();

    form->pushButtoLogStop->setEnabled(false);
    form->pushButtonLogStart->setEnabled(true);
    form->pushButtonReadCalibr->setEnabled(false);
    form->pushButtonApplyCalibr->setEnabled(false);
    form->pushButtonApplyUserParam->setEnabled(false);

    form->pushButtoLogStop->setIcon(QIcon(":/new/prefix1/rec/stop.png"));
    form->pushButtonLogStart->setIcon(QIcon(":/new/prefix1/rec/start.png"));
    form->pushButtonLogClear->setIcon(QIcon(":/new/prefix1/rec/Clear2.png"));
    form->pushButtonLogParam->setIcon(QIcon(":/new/prefix1/rec/executable-script-icon.png"));
    form->pushButtonLogSave->setIcon(QIcon(":/new/prefix1/rec/SaveAs2.png"));

    form->labelAmA->setText(QStringLiteral("   A"));
}

MainWindow::~MainWindow()
{
    // The line is let go (to the programs attached to it) while the window
    // is whole: letting it go waits for late replies, handling events.
    poll->Stop();
    connection->disconnect(this);
    connection->Line().disconnect(this);
    connection->States()->disconnect(setpoints);
    connection->Line().Close();
    // The run page stores its choices as it goes: it goes before the
    // settings dialog, which holds the store.
    delete runWindow;
    delete form;
}

void MainWindow::TraceTo(QIODevice *device)
{
    connection->Link().SetTraceDevice(device);
}

void MainWindow::BuildToolBar()
{
    connectAction = new QAction(QIcon(":/new/prefix1/rec/connect.png"), tr("Подключить"), this);
    connectAction->setStatusTip(tr("Подключить прибор"));
    disconnectAction = new QAction(QIcon(":/new/prefix1/rec/disconnect.png"), tr("Отключить"), this);
    disconnectAction->setStatusTip(tr("Отключить прибор"));
    disconnectAction->setEnabled(false);
    auto *aboutAction = new QAction(QIcon(":/new/prefix1/rec/about.png"), tr("О программе"), this);
    aboutAction->setStatusTip(tr("О программе"));
    connect(aboutAction, &QAction::triggered, this, &MainWindow::About);
    auto *portLabel = new QLabel(tr("  Номер\n  порта"));
    auto *slaveLabel = new QLabel(tr("Id slave"));
    MakeToolBarLabel(portLabel, 60);
    MakeToolBarLabel(slaveLabel, 50);

    QToolBar *bar = form->mainToolBar;
    // Fixed in place and with icons a little smaller than 30 px: the whole
    // bar, About included, fits the fixed window.
    bar->setMovable(false);
    bar->setIconSize(QSize(24, 24));
    bar->addAction(connectAction);
    bar->addAction(disconnectAction);
    bar->addSeparator();
    bar->addWidget(portLabel);
    bar->addWidget(portBox);
    bar->addSeparator();
    bar->addWidget(slaveLabel);
    bar->addWidget(slaveBox);
    bar->addSeparator();
    bar->addSeparator();
    bar->addAction(aboutAction);
    // The separators measure themselves with their own style: the bar's
    // narrower one.
    for (QWidget *item : bar->findChildren<QWidget *>()) {
        if (item->inherits("QToolBarSeparator"))
            item->setStyle(bar->style());
    }
}

void MainWindow::BuildPageWindows()
{
    // Seven captions do not fit the fixed window's tab bar: the chart and the
    // run open in windows of their own, from buttons on the status bar.
    QSettings *settings = settingsDialog->Settings();
    form->tabWidget->removeTab(form->tabWidget->indexOf(form->tab_6));
    auto *chartWindow = new PageWindow(form->tab_6, tr("График"), settings, QStringLiteral("windows/chartSize"),
                                 QSize(900, 520), this);
    runPage = new RunPage(settings, runTransport.get());
    runWindow = new PageWindow(runPage, tr("Прогон"), settings, QStringLiteral("windows/runSize"),
                               runPage->sizeHint().expandedTo(QSize(340, 470)), this);

    auto *openChartAction = new QAction(tr("График"), this);
    openChartAction->setObjectName(QStringLiteral("actionOpenChart"));
    openChartAction->setStatusTip(tr("Напряжение и ток во времени, в отдельном окне"));
    auto *openRunAction = new QAction(tr("Прогон"), this);
    openRunAction->setObjectName(QStringLiteral("actionOpenRun"));
    openRunAction->setStatusTip(tr("Программа шагов, пределы и запись, в отдельном окне"));
    lineView = new LineView;
    auto *lineWindow = new PageWindow(lineView, tr("Линия"), settings, QStringLiteral("windows/lineSize"),
                                QSize(560, 260), this);
    auto *openLineAction = new QAction(tr("Линия"), this);
    openLineAction->setObjectName(QStringLiteral("actionOpenLine"));
    openLineAction->setStatusTip(tr("Источники на линии и кто ими управляет, в отдельном окне"));
    lineLabel = new QLabel;
    lineLabel->setObjectName(QStringLiteral("lineRoleLabel"));
    form->statusBar->addWidget(lineLabel);
    // A label, not a status message: a tool tip's text would wipe that.
    silenceLabel = new QLabel;
    silenceLabel->setObjectName(QStringLiteral("silenceLabel"));
    form->statusBar->addWidget(silenceLabel);
    for (QAction *action : {openChartAction, openRunAction, openLineAction}) {
        auto *button = new QToolButton;
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        // No taller than the status bar's text: the pages keep their height.
        button->setMaximumHeight(button->fontMetrics().height() + 4);
        form->statusBar->addPermanentWidget(button);
    }
    connect(openChartAction, &QAction::triggered, chartWindow, &PageWindow::Open);
    connect(openRunAction, &QAction::triggered, runWindow, &PageWindow::Open);
    connect(openLineAction, &QAction::triggered, lineWindow, &PageWindow::Open);
}

void MainWindow::BuildOutputOffShortcut()
{
    // The key acts from the page windows, while a notice has the focus and
    // over every dialog, modal ones included (see OutputOffKey).
    outputOffAction = new QAction(tr("Выключить выход"), this);
    outputOffAction->setEnabled(false);
    new OutputOffKey(this, outputOffAction);
    form->pushButtonOnOff->setToolTip(
        tr("Включает и выключает выход; %1 выключает его с любой страницы")
            .arg(OutputOffKey::Sequence().toString(QKeySequence::NativeText)));
}

void MainWindow::BuildParts()
{
    readings = new SupplyReadings(*connection, form, silenceLabel, this);
    setpoints = new PanelSetpoints(*connection, {form->doubleSpinBoxV, form->doubleSpinBoxA, form->pushButtonApply},
                                   [this] { return PanelHeldBy(); }, this);
    pages = new ParameterPages(*connection, form, this);
    poll = new PollCycle(*connection, {readings, setpoints, pages, lineView, runPage, runTransport.get()}, this);
    poll->ChooseAddress(slaveBox->value());
    logClock = new LogClock(settingsDialog, form->textEditLog, readings, this);
}

void MainWindow::ConnectSignals()
{
    connect(connectAction, &QAction::triggered, this, &MainWindow::OpenPort);
    connect(disconnectAction, &QAction::triggered, this, &MainWindow::Disconnect);
    connect(outputOffAction, &QAction::triggered, this, &MainWindow::SwitchOutputOff);
    connect(form->pushButtonApply, &QPushButton::clicked, this, &MainWindow::ApplyParam);
    connect(form->pushButtonOnOff, &QPushButton::clicked, this, &MainWindow::OnOff);
    // Enter in a set-point box applies, as the button does, once the box
    // holds a value it takes.
    for (SetpointSpinBox *box : {form->doubleSpinBoxV, form->doubleSpinBoxA})
        connect(box, &SetpointSpinBox::entered, this, &MainWindow::ApplyFromKeyboard);
    connect(form->pushButtonReadCalibr, &QPushButton::clicked, poll, &PollCycle::ReadCalibration);
    connect(form->pushButtonApplyCalibr, &QPushButton::clicked, poll, &PollCycle::WriteCalibration);
    connect(form->pushButtonReadUserParam, &QPushButton::clicked, poll, &PollCycle::ReadUserParams);
    connect(form->pushButtonApplyUserParam, &QPushButton::clicked, poll, &PollCycle::WriteUserParams);
    connect(form->pushButtonLogParam, &QPushButton::clicked, settingsDialog, &QDialog::show);
    connect(form->pushButtoLogStop, &QPushButton::clicked, logClock, &LogClock::Stop);
    connect(form->pushButtonLogStart, &QPushButton::clicked, logClock, &LogClock::Start);
    connect(form->pushButtonLogClear, &QPushButton::clicked, logClock, &LogClock::Clear);
    connect(form->pushButtonLogSave, &QPushButton::clicked, this, &MainWindow::SaveAsFile);
    connect(logClock, &LogClock::activeChanged, this, &MainWindow::ShowLogActive);

    connect(poll, &PollCycle::ticked, logClock, &LogClock::Step);
    connect(poll, &PollCycle::addressChanged, this, &MainWindow::StorePortChoice);
    connect(poll, &PollCycle::writeFailed, this, &MainWindow::ShowWriteFailure);
    connect(pages, &ParameterPages::readFailed, this, &MainWindow::ShowReadFailure);
    connect(pages, &ParameterPages::writeFailed, this, &MainWindow::ShowWriteFailure);
    connect(readings, &SupplyReadings::measured, runPage, &RunPage::feedMeasurement);

    // The chart shows what the panel reads and writes.
    connect(readings, &SupplyReadings::statusShown, chart, &LiveChart::AddStatus);
    connect(readings, &SupplyReadings::statusFailed, chart, &LiveChart::AddReadFailure);
    connect(poll, &PollCycle::outputSwitched, chart, &LiveChart::AddSwitch);
    connect(setpoints, &PanelSetpoints::shown, chart, &LiveChart::SetSetpoints);
    connect(setpoints, &PanelSetpoints::forgotten, chart, &LiveChart::ForgetSetpoints);

    // A connect and a change of address make the same things stale.
    connect(connection, &Connection::supplyForgotten, readings, &SupplyReadings::ForgetSupply);
    connect(connection, &Connection::supplyForgotten, pages, &ParameterPages::ForgetSupply);
    connect(connection, &Connection::supplyForgotten, setpoints, &PanelSetpoints::ForgetSupply);
    connect(connection, &Connection::supplyForgotten, chart, &LiveChart::Connected);
    // Not one of the operator's connections: how the window learns that the
    // port's device went away, or that nobody could take the line over.
    connect(connection, &Connection::lost, this, &MainWindow::PortLostOccurred);

    connect(runPage, &RunPage::startClicked, this, &MainWindow::StartRun);
    connect(runPage, &RunPage::closeAllowed, this, &QWidget::close);
    connect(runPage, &RunPage::disconnectAllowed, this, &MainWindow::ClosePort);
    connect(runPage, &RunPage::runningChanged, this, &MainWindow::HoldPanelForRun);

    SharedLine *line = &connection->Line();
    connect(line, &SharedLine::membersChanged, this, &MainWindow::LineMembersChanged);
    connect(line, &SharedLine::handingOver, this, &MainWindow::LineHandingOver);
    connect(line, &SharedLine::takenOver, this, &MainWindow::LineTakenOver);
    connect(connection->States(), &SupplyStates::changed, setpoints, &PanelSetpoints::SupplyStateChanged);
    connect(lineView, &LineView::addressChosen, this, &MainWindow::ChooseAddress);
    connect(slaveBox, QOverload<int>::of(&QSpinBox::valueChanged), poll, &PollCycle::ChooseAddress);
    connect(slaveBox, QOverload<int>::of(&QSpinBox::valueChanged), this, [this] {
        TellLine();
        HoldPanel();
    });
}

void MainWindow::ShowLogActive(bool active)
{
    form->pushButtoLogStop->setEnabled(active);
    form->pushButtonLogStart->setEnabled(!active);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A run is stopped first (its output switched off and acknowledged), then
    // the log is offered for saving.
    // Others on the line keep it: the window's run ends with its own
    // supply's output off, never theirs.
    if (!runPage->confirmClose(int(connection->Line().Members().size()) - 1)) {
        event->ignore();
        return;
    }
    // Lines recorded since the last save would be lost without a word.
    if (logClock->Unsaved()) {
        const auto answer = QMessageBox::question(
            this, tr("Лог"), tr("Лог не сохранён. Сохранить его перед выходом?"),
            QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        if (answer == QMessageBox::Cancel || (answer == QMessageBox::Save && !SaveLog())) {
            event->ignore();
            return;
        }
    }
    event->accept();
}
