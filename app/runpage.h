#pragma once

#include "runengine.h"

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
// (program, repeats, limits, recording) and the run itself. The page never
// talks to the supply: the poll cycle feeds it the readings and carries out
// its writes, one per tick, so the wire keeps its order and cadence. The
// choices are kept in the window's settings store under the "run" group.
class RunPage : public QWidget
{
    Q_OBJECT

public:
    static constexpr int LimitRows = 3;
    static constexpr int ReopenPeriodMs = 2000;
    // How long a close waits for the output to be switched off.
    static constexpr int CloseWaitMs = 5000;

    // store: the window's settings store, which outlives the page.
    explicit RunPage(QSettings *store, QWidget *parent = nullptr);
    ~RunPage() override;

    // What the recording says about the supply.
    struct Supply {
        QString port;
        int address = 0;
    };

    bool isActive() const { return engine && engine->isActive(); }

    // The poll cycle's side.
    void advance();
    std::optional<SupplyRequest> pendingRequest() const;
    void requestDone(const SupplyRequest &request);
    // The write was not acknowledged after every try.
    void requestFailed();
    void feedStatus(const StatusRecord &status);
    void feedMeasurement(const MeasurementRecord &measurement);

    // The connection's side: the port closed, either lost (the run goes on and
    // the port is reopened) or by the operator (the run ends, output unknown).
    void portClosed(bool lost);
    void portRestored();
    void setConnected(bool connected);

    // Shows a message on the live line instead of a box, which would halt
    // the poll; false when no run is active and a box may be shown.
    bool takeMessage(const QString &text);

    // Starts with the page's choices; false with the reason on the live line.
    bool start(const Supply &supply);
    void stop();

    // The window is being closed: true when it may close now; otherwise the
    // operator was asked, and on a yes the run is stopped and closeAllowed()
    // follows once the output is off.
    bool confirmClose();

signals:
    void startClicked();
    // Every ReopenPeriodMs while the port is lost during a run.
    void reopenWanted();
    // A run began or ended: while it runs, the supply it drives stays the same.
    void runningChanged(bool running);
    void closeAllowed();

private slots:
    void ChooseProgram();
    void LoadProgram();
    void ChooseRecording();
    void RunEventRecorded(const QString &event);
    void RunFinished(RunOutcome outcome);
    void CloseWaitExpired();

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
    std::array<LimitRow, LimitRows> limitRows;
    QLineEdit *recordEdit = nullptr;
    QToolButton *recordButton = nullptr;
    QCheckBox *appendBox = nullptr;
    QPushButton *startButton = nullptr;
    QPushButton *stopButton = nullptr;
    QLabel *progressLabel = nullptr;
    QLabel *messageLabel = nullptr;
    QTimer *reopenTimer = nullptr;
    QTimer *closeWaitTimer = nullptr;

    QSettings *store;
    std::unique_ptr<RunEngine> engine;
    QElapsedTimer clock;
    int markedStep = 0;
    bool connected = false;
    bool closeWanted = false;
};
