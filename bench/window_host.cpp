// The real main window in a process of its own, for window_cpu_bench to
// measure from outside. The window has no command-line options, so the host
// does what an operator would: types the port and connects.
//
//   window_host --startup <t0>         reports when the window is first painted,
//                                      t0 being CLOCK_MONOTONIC in ns at launch
//   window_host <port> <seconds> [--chart]
//                                      connects, then runs for that long; with
//                                      --chart the chart page is showing
//
// Reports go to the standard error; the standard output carries the link's
// trace, as in the program.

#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QToolBar>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

qint64 MonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Notes the first paint of the window and quits.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(qint64 launchNs) : launchNs(launchNs) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            std::fprintf(stderr, "host: shown %.1f ms\n", (MonotonicNs() - launchNs) / 1e6);
            QTimer::singleShot(0, qApp, &QApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    qint64 launchNs;
    bool done = false;
};

// Closes each message box as it is shown: a silent supply's first read fails
// with a modal box, and the measurement is of the window, not of a box.
class BoxCloser : public QObject
{
public:
    int closed = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(watched)) {
                ++closed;
                QTimer::singleShot(0, box, [box] { box->done(QMessageBox::Ok); });
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

int Startup(QApplication &app, qint64 launchNs)
{
    FirstPaint watch(launchNs);
    MainWindow window;
    window.installEventFilter(&watch);
    window.show();
    return app.exec();
}

int RunConnected(QApplication &app, const QString &port, int seconds, bool chartPage)
{
    BoxCloser closer;
    app.installEventFilter(&closer);
    MainWindow window;
    window.show();
    if (chartPage)
        window.findChild<QAction *>(QStringLiteral("actionOpenChart"))->trigger();

    // Every reading shown changes the input voltage box a little.
    int readings = 0;
    auto *vin = window.findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxVin"));
    QObject::connect(vin, qOverload<double>(&QDoubleSpinBox::valueChanged),
                     [&readings] { ++readings; });

    // The port box is the tool bar's; the chart page has a box of its own.
    window.findChild<QToolBar *>()->findChild<QComboBox *>()->setEditText(port);
    for (QAction *action : window.findChildren<QAction *>()) {
        if (action->text() == QStringLiteral("Подключить"))
            action->trigger();
    }
    bool connected = false;
    for (QAction *action : window.findChildren<QAction *>()) {
        if (action->text() == QStringLiteral("Отключить"))
            connected = action->isEnabled();
    }
    std::fprintf(stderr, "host: %s\n", connected ? "connected" : "not connected");
    if (!connected)
        return 1;

    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    const int code = app.exec();
    std::fprintf(stderr, "host: readings shown %d, boxes closed %d\n", readings, closer.closed);
    return code;
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QStringLiteral("--startup"))
        return Startup(app, args.at(2).toLongLong());
    const bool chartPage = args.size() == 4 && args.at(3) == QStringLiteral("--chart");
    if (args.size() == 3 || chartPage)
        return RunConnected(app, args.at(1), args.at(2).toInt(), chartPage);
    std::fprintf(stderr,
                 "usage: window_host --startup <t0-ns> | window_host <port> <seconds> [--chart]\n");
    return 2;
}
