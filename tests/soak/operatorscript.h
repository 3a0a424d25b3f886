#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>

#include <random>

class BoxWatcher;
class MainWindow;
class QPushButton;
class ReplyLedger;
class VirtualSupply;
class WindowView;

// An operator at one window: between stretches of monitoring, one request at
// a time (apply, output switch, parameter reads and writes) and log starts
// and stops, in a seeded order. Every request is followed on the line, by the
// request lines the supply gets, and judged when the window goes back to
// monitoring: it must have ended acknowledged (read replied) or with exactly
// one failure box after its full number of tries, never silently.
class OperatorScript : public QObject
{
    Q_OBJECT

public:
    OperatorScript(MainWindow *window, VirtualSupply *supply, const ReplyLedger *ledger,
                   WindowView *view, const BoxWatcher *boxes, quint32 seed,
                   QObject *parent = nullptr);

    void start() { running = true; }
    void stop() { running = false; }

    // Page texts the operator typed last: the page may show them as well as
    // what the supply sent.
    QString typedSetpoints, typedCalibration, typedUserParams;

    int acknowledged = 0;  // writes acknowledged and reads replied
    int failed = 0;        // requests that ended with their failure box
    int logToggles = 0;
    QStringList violations;
    // Is the request under way for longer than the window could take?
    void checkStuck();

private slots:
    void takeLine(const QByteArray &line);

private:
    enum Kind { Apply, Switch, CalibrationRead, CalibrationWrite, UserRead, UserWrite, LogToggle };
    struct Request {
        Kind kind;
        quint8 command;
        quint8 access;
        int maxTries;
        QString failureText;
        int tries = 0;
        int boxesBefore = 0;
        int repliesBefore = 0;
        QElapsedTimer age;
    };

    void act();
    void judge();
    int replies(const Request &request) const;
    QPushButton *button(const char *name) const;

    MainWindow *window;
    const ReplyLedger *ledger;
    WindowView *view;
    const BoxWatcher *boxes;
    std::mt19937 rng;
    bool running = false;
    bool pending = false;
    Request request{};
    int idleLines = 0;
};
