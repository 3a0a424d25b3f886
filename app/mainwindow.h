#pragma once

#include "linkresult.h"
#include "logsettings.h"
#include "records.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSerialPort>
#include <QTime>

#include <memory>

class QAction;
class QCloseEvent;
class QComboBox;
class QLabel;
class QSpinBox;
class QTimer;
class DeviceLink;
class DialogSettingsLog;
class LiveChart;
class LineView;
class SharedLine;
class MainWindowForm;
class NoticeBoxes;
class PageWindow;
struct PortFailure;
class RunPage;
class LineRunTransport;
class SetpointSpinBox;
class SupplyStates;

// Operation of the next poll tick.
enum class PollState : qint32 {
    Monitor = 0,
    ApplySetpoints = 1,
    SwitchOutput = 2,
    CalibrationRead = 3,
    CalibrationWrite = 4,
    UserParamsRead = 5,
    UserParamsWrite = 6,
};

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    static QString FormatDigits(qint32 value, qint32 pointIndex);
    // The link's trace goes to device instead of the standard output; it
    // must outlive the window.
    void TraceTo(QIODevice *device);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void OpenPort();
    void ClosePort();
    void TimeOut();
    void WaitingTick();
    void ApplyParam();
    void OnOff();
    void ReadParam();
    void WriteParam();
    void ReadUserParam();
    void WriteUserParam();
    void StartLog();
    void StopLog();
    void ClearLog();
    void SaveAsFile();
    void About();
    void StartRun();
    void SwitchOutputOff();
    void Disconnect();
    void HoldPanelForRun(bool running);
    // Holds the panel while a run drives its supply: this window's or
    // another program's on the line.
    void HoldPanel();
    void LineMembersChanged();
    void LineHandingOver();
    void LineTakenOver();
    void LineLost(const QString &reason);
    void ChooseAddress(int address);
    // What the line heard of a supply: the panel follows its set-points.
    void SupplyStateChanged(quint8 address);

private:
    void BuildToolBar();
    void BuildPageWindows();
    void BuildOutputOffShortcut();
    void ConnectSignals();
    quint32 BeginConnection();
    // What a connect and a change of address both make stale.
    void ForgetSupply();
    void ResumePolling();
    void SetConnectedLook(bool connected);
    void SetWriteButtonsEnabled(bool enabled);
    void RequestOperation(PollState state);
    void PortLostOccurred();
    void ShowPortLost();
    void LoadPortChoice();
    void StorePortChoice();
    // Tells the line who this window is: its address and what it does.
    void TellLine();
    void ShowLineRole();
    // Why the panel may not change its supply now; empty when it may.
    QString PanelHeldBy() const;
    void SupplyChanged();

    bool LoadSetpoints();
    void ShowSetpoints(const SetpointRecord &setpoints);
    // The boxes take the set-points the supply holds, except one the
    // operator is editing (focused, or changed since last shown).
    void FollowSetpoints(const SetpointRecord &setpoints);
    bool BoxEdited(const SetpointSpinBox *box, int shownThousandths) const;
    void NoteSetpointsShown();
    // Whether other programs share the line: they may change the supply.
    bool LineShared() const;
    void SetSetpointsKnown(bool known);
    void ApplyFromKeyboard();
    LinkResult ShowStatus();
    // Shows a status read by the poll or by the run: the record or the failure.
    LinkResult ShowStatusReading(LinkResult result);
    void ShowReadingsStale();
    // Says in the status bar how long the supply has been silent, or clears
    // that once it answers.
    void ShowSilence(bool answered);
    bool ShowMeasurements();
    void ShowMeasurementsStale(bool stale);
    LinkResult SendSetpoints();
    LinkResult SendOutputSwitch();
    void ShowWriteFailure(LinkResult result);
    void ShowReadFailure(LinkResult result);
    // Which port and address were asked, and whether nothing came back or a
    // reply failed its checks: a wrong address and a dead line differ.
    QString FailureDetails(LinkResult result) const;
    void ShowError(const QString &text);
    // Why a port did not open, in the window's language.
    static QString PortFailureWords(const PortFailure &failure);

    void LoadCalibration();
    void StoreCalibration();
    void LoadUserParams();
    void StoreUserParams();

    void LogStep();
    void AppendLogLine();
    bool SaveLog();

    // The unattended run's share of the poll cycle; true when it took this tick.
    bool RunTick();
    void ReopenForRun();
    void BuildRunTransport();

    MainWindowForm *form = nullptr;
    QLabel *portLabel = nullptr;
    QLabel *slaveLabel = nullptr;
    QComboBox *portBox = nullptr;
    QSpinBox *slaveBox = nullptr;
    QAction *connectAction = nullptr;
    QAction *disconnectAction = nullptr;
    QAction *aboutAction = nullptr;
    // Switches the output off from any page and window, a notice open or not.
    QAction *outputOffAction = nullptr;
    QSerialPort *port = nullptr;
    std::unique_ptr<DeviceLink> link;
    // The port as this user's programs share it; it goes before the link.
    std::unique_ptr<SharedLine> line;
    // What the line heard of each supply, from every user of it.
    SupplyStates *supplyStates = nullptr;
    // The run page's way to the supply, over the line.
    std::unique_ptr<LineRunTransport> runTransport;
    // The window holds a connection (until a disconnect or a lost port; a
    // handover of the line keeps it).
    bool connected = false;
    CalibrationRecord calibration;
    StatusRecord status;
    MeasurementRecord measurement;
    UserParamRecord userParams;
    QTimer *pollTimer = nullptr;
    DialogSettingsLog *settingsDialog = nullptr;
    LiveChart *chart = nullptr;  // the chart page, fed by the poll cycle
    RunPage *runPage = nullptr;  // the run page, fed by the poll cycle
    // The chart and run pages in windows of their own, opened from the status
    // bar: the tab bar holds only the pages that fit it.
    PageWindow *chartWindow = nullptr;
    PageWindow *runWindow = nullptr;
    QAction *openChartAction = nullptr;
    QAction *openRunAction = nullptr;
    // The line's supplies, opened from the status bar too; its reads take
    // every other monitor tick while it wants them.
    LineView *lineView = nullptr;
    PageWindow *lineWindow = nullptr;
    QAction *openLineAction = nullptr;
    bool lineViewTurn = false;
    // A tick waits while the link makes another program's exchange.
    bool tickWaiting = false;
    static constexpr int BusyLineRetryMs = 10;
    // Whether the window holds the line or is attached, and to whom.
    QLabel *lineLabel = nullptr;
    // "No answer for N s" while the supply is silent, empty otherwise.
    QLabel *silenceLabel = nullptr;
    QElapsedTimer lastAnswer;  // since the supply last answered a monitor read
    PollState pollState = PollState::Monitor;
    bool readToggle = false;
    qint32 retryCount = 0;
    // The pending output write switches off whatever the last status said.
    bool switchOffOnly = false;
    bool logActive = false;
    quint8 slaveAddress = 0;
    // Log clocks: durations are held as times of day counted from midnight, so
    // they wrap at 24 hours like the stamps that show them.
    QTime periodElapsed;
    QTime logElapsed;
    QTime tickTime;  // clock time at which the latest tick began
    LogSettings logSettings;

    bool statusFresh = false;
    // Status reads that failed in a row, and whether any status was read in
    // the current connection.
    int statusFailures = 0;
    bool statusReadThisConnection = false;
    static constexpr int StaleAfterFailures = 2;
    bool measureFresh = false;
    int measureFailures = 0;
    // Whether the set-point boxes hold what this supply holds: false from a
    // connect or a change of address until a set-point read succeeds. Until
    // then a monitor tick reads the set-points instead, at most once a second.
    bool setpointsKnown = false;
    // What the boxes were last given from the supply (thousandths, as the
    // boxes hold them), to tell the operator's edits from it; -1: nothing.
    int shownMillivolts = -1;
    int shownMilliamperes = -1;
    // On a shared line every other measurement tick reads the set-points.
    bool setpointTurn = false;
    QElapsedTimer setpointRetryClock;
    static constexpr qint64 SetpointRetryMs = 1000;
    // Lines recorded since the log was last saved or cleared.
    bool logUnsaved = false;
    std::unique_ptr<NoticeBoxes> notices;
    // Counts request clicks, so that a tick's operation that finishes after a
    // new click does not drop it by returning to Monitor.
    quint32 requestSerial = 0;
    // Set when the port's device went away and until the next connect: the
    // operation that was in flight then fails for that reason, and the operator
    // is told once, by the loss message.
    bool portLost = false;
    // Counts connects, disconnects and changes of address, so that a connect
    // interrupted by a disconnect (during its set-point reads) stops where it
    // is, and a page read of one supply does not enable writes to another.
    quint32 connectionSerial = 0;
    QElapsedTimer tickClock;  // time since the latest tick began
    QElapsedTimer logClock;   // monotonic time since recording started
};
