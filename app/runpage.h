#pragma once

#include "rundriver.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSettings;
class QSpinBox;
class QTimer;
class QToolButton;

// The window's "Прогон" page: the operator's choices for an unattended run
// (program, repeats, limits, recording, how long a silent supply is waited
// for) and the run itself. The page's driver reaches the supply through the
// window's transport, one operation in a poll tick, so the wire keeps its
// order and cadence. The choices are kept in the window's settings store
// under the "run" group.
class RunPage : public QWidget
{
    Q_OBJECT

public:
    static constexpr int LimitRows = 3;
    // Status readings in a run: every other poll tick.
    static constexpr int ReadIntervalMs = 500;
    // While the port is lost the poll cycle stops; the page's own timer
    // keeps the driver going.
    static constexpr int PortDownPollMs = 500;

    // store: the window's settings store, which outlives the page;
    // transport: the window's way to the supply, which outlives the page.
    RunPage(QSettings *store, RunTransport *transport, QWidget *parent = nullptr);
    ~RunPage() override;

    // What the recording says about the supply.
    struct Supply {
        QString port;
        int address = 0;
        // Set when another program's run drives the address: the start is
        // refused with this reason.
        QString heldBy;
    };

    bool isActive() const { return driver && driver->isActive(); }

    // The poll cycle's side: true when the run took this tick.
    bool tick();
    void feedMeasurement(const MeasurementRecord &measurement);

    // The connection's side: while the port is closed during a run, the page
    // drives the run by its own timer (reopening the port, or ending).
    void portClosed();
    void portRestored();
    void setConnected(bool connected);

    // Shows a message on the live line instead of a box, which would halt
    // the poll; false when no run is active and a box may be shown.
    bool takeMessage(const QString &text);

    // Starts with the page's choices; false with the reason on the live line.
    bool start(const Supply &supply);
    void stop();

    // The window is being closed, or the operator disconnects: true when it
    // may go on now; otherwise the operator was asked, and on a yes the run
    // is stopped and closeAllowed() or disconnectAllowed() follows once the
    // output off is confirmed or given up.
    // othersOnLine: the other programs on a shared line, which keep it and
    // their supplies as they are.
    bool confirmClose(int othersOnLine = 0);
    bool confirmDisconnect();

signals:
    void startClicked();
    // A run began or ended: while it runs, the supply it drives stays the
    // same and the panel leaves it to the run.
    void runningChanged(bool running);
    void closeAllowed();
    void disconnectAllowed();

private slots:
    void ChooseProgram();
    void LoadProgram();
    void ChooseRecording();
    void RunEventRecorded(const QString &event);
    void RunFinished(RunOutcome outcome);
    void PollWhilePortDown();

private:
    struct LimitRow {
        QComboBox *quantity = nullptr;
        QComboBox *comparison = nullptr;
        QDoubleSpinBox *value = nullptr;
    };

    void BuildLayout();
    void LoadChoices();
    void SaveChoices() const;
    bool ReadProgram(RunProgram *program);
    // Asks about an existing recording; false to cancel the start.
    bool ChooseRecordMode(const QString &path, RunRecording::Mode *mode);
    bool ConfirmStop(const QString &question);
    RunPolicy ChosenPolicy() const;
    QVector<RunCondition> ChosenLimits() const;
    void ShowSteps(const RunProgram &program);
    // The recording's English event words in the window's language.
    static QString EventText(const QString &event);
    QString SummaryText(const RunSummary &summary) const;
    void MarkStep(int step);
    void ShowProgress();
    void SetRunningLook(bool running);
    qint64 Now() const { return clock.elapsed(); }

    QLineEdit *programEdit = nullptr;
    QToolButton *programButton = nullptr;
    QListWidget *stepList = nullptr;
    QSpinBox *repeatBox = nullptr;
    QSpinBox *intervalBox = nullptr;  // seconds between rows; 0 every reading
    QCheckBox *keepOutputBox = nullptr;
    QSpinBox *silenceBox = nullptr;    // seconds without an answer before the run aborts
    QCheckBox *reconnectBox = nullptr;
    QSpinBox *reconnectWithinBox = nullptr;  // seconds a lost port or silent supply is waited for
    QSpinBox *offRetryBox = nullptr;   // seconds the output off is tried
    std::array<LimitRow, LimitRows> limitRows;
    QLineEdit *recordEdit = nullptr;
    QToolButton *recordButton = nullptr;
    QCheckBox *appendBox = nullptr;
    QPushButton *startButton = nullptr;
    QPushButton *stopButton = nullptr;
    QLabel *progressLabel = nullptr;
    QLabel *messageLabel = nullptr;
    QTimer *portDownTimer = nullptr;

    QSettings *store;
    RunTransport *transport;
    std::unique_ptr<RunDriver> driver;
    QElapsedTimer clock;
    int markedStep = 0;
    bool connected = false;
    bool closeWanted = false;
    bool disconnectWanted = false;
};
