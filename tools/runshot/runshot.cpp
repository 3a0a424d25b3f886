// The window connected to an in-process virtual supply, the run page showing
// a three-step program under way with a limit and a recording in a temporary
// folder; it stays up for the given number of seconds.
//   runshot <seconds>

#include "mainwindow.h"
#include "virtualsupply.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>

#include <cstdio>

int main(int argc, char *argv[])
{
    QTemporaryDir dir;
    // The page's choices go to a store of its own, not the user's.
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    const int seconds = app.arguments().value(1, QStringLiteral("20")).toInt();
    VirtualSupply supply;
    QString error;
    QFile program(dir.filePath(QStringLiteral("soak.csv")));
    if (!supply.open(&error) || !program.open(QIODevice::WriteOnly)
        || program.write("voltage,current,duration,ramp,until\n"
                         "5,1,0:30,0:10,\n12,1,10:00,,current<0.05\n3.3,0.5,1:00:00,,\n")
               < 0) {
        std::fprintf(stderr, "runshot: %s\n", qPrintable(error));
        return 1;
    }
    program.close();
    MainWindow window;
    window.move(0, 0);
    window.show();
    // The run page opens in a window of its own; here it covers the screen.
    window.findChild<QAction *>(QStringLiteral("actionOpenRun"))->trigger();
    QWidget *runWindow = window.findChild<QLineEdit *>(QStringLiteral("runProgramEdit"))->window();
    runWindow->setGeometry(0, 0, 340, 470);
    window.findChild<QLineEdit *>(QStringLiteral("runProgramEdit"))->setText(program.fileName());
    window.findChild<QLineEdit *>(QStringLiteral("runRecordEdit"))
        ->setText(dir.filePath(QStringLiteral("soak-record.csv")));
    window.findChild<QComboBox *>(QStringLiteral("runLimitQuantity1"))->setCurrentIndex(4);
    window.findChild<QComboBox *>(QStringLiteral("runLimitComparison1"))->setCurrentIndex(2);
    window.findChild<QDoubleSpinBox *>(QStringLiteral("runLimitValue1"))->setValue(60);
    window.findChild<QToolBar *>()->findChild<QComboBox *>()->setEditText(supply.portPath());
    for (QAction *action : window.findChildren<QAction *>()) {
        if (action->text() == QStringLiteral("Подключить"))
            action->trigger();
    }
    window.findChild<QPushButton *>(QStringLiteral("runStartButton"))->click();
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    return app.exec();
}
