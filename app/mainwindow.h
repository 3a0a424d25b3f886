#pragma once

#include "linkresult.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QCloseEvent;
class QComboBox;
class QLabel;
class QSpinBox;
class Connection;
class DialogSettingsLog;
class LiveChart;
class LineView;
class LogClock;
class MainWindowForm;
class NoticeBoxes;
class PageWindow;
class PanelSetpoints;
class ParameterPages;
class PollCycle;
class RunPage;
class LineRunTransport;
class SupplyReadings;

// The window: it builds the panel and its pages, puts the parts that do the
// work together, and shows what they report and asks what they need.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The link's trace goes to device instead of the standard output; it
    // must outlive the window.
    void TraceTo(QIODevice *device);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void OpenPort();
    void ClosePort();
    void ApplyParam();
    void OnOff();
    void ApplyFromKeyboard();
    void SwitchOutputOff();
    void ShowLogActive(bool active);
    void SaveAsFile();
    void About();
    void StartRun();
    void Disconnect();
    void HoldPanelForRun(bool running);
    // Holds the panel while a run drives its supply: this window's or
    // another program's on the line.
    void HoldPanel();
    void LineMembersChanged();
    void LineHandingOver();
    void LineTakenOver();
    void PortLostOccurred();
    void ShowPortLost();
    void ChooseAddress(int address);
    void StorePortChoice();
    void ShowWriteFailure(LinkResult result);
    void ShowReadFailure(LinkResult result);

private:
    void BuildToolBar();
    void BuildPageWindows();
    void BuildOutputOffShortcut();
    void BuildParts();
    void ConnectSignals();
    void BeginConnection();
    void ResumePolling();
    void SetConnectedLook(bool connected);
    // Tells the line who this window is: its address and what it does.
    void TellLine();
    void ShowLineRole();
    // Why the panel may not change its supply now; empty when it may.
    QString PanelHeldBy() const;
    // Which port and address were asked, and whether nothing came back or a
    // reply failed its checks: a wrong address and a dead line differ.
    QString FailureDetails(LinkResult result) const;
    void ShowError(const QString &text);
    bool SaveLog();
    // A port lost during a run is reopened by its name, quietly.
    void ReopenForRun();
    void BuildRunTransport();

    MainWindowForm *form = nullptr;
    QComboBox *portBox = nullptr;
    QSpinBox *slaveBox = nullptr;
    QAction *connectAction = nullptr;
    QAction *disconnectAction = nullptr;
    // Switches the output off from any page and window, a notice open or not.
    QAction *outputOffAction = nullptr;
    // The run page's window: the run page stores its choices as it goes, and
    // goes before the settings dialog that holds the store.
    PageWindow *runWindow = nullptr;
    // Whether the window holds the line or is attached, and to whom.
    QLabel *lineLabel = nullptr;
    // "No answer for N s" while the supply is silent, empty otherwise.
    QLabel *silenceLabel = nullptr;
    DialogSettingsLog *settingsDialog = nullptr;
    std::unique_ptr<NoticeBoxes> notices;

    Connection *connection = nullptr;
    // The run page's way to the supply, over the line.
    std::unique_ptr<LineRunTransport> runTransport;
    LiveChart *chart = nullptr;
    RunPage *runPage = nullptr;
    LineView *lineView = nullptr;
    SupplyReadings *readings = nullptr;
    PanelSetpoints *setpoints = nullptr;
    ParameterPages *pages = nullptr;
    PollCycle *poll = nullptr;
    LogClock *logClock = nullptr;
};
