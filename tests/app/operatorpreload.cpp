// Preloaded into the real program (LD_PRELOAD), this does what an operator
// would: once the window is up it types the port named by PANEL_OPERATOR_PORT,
// connects, and closes the window PANEL_OPERATOR_MS milliseconds later.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMainWindow>
#include <QTimer>
#include <QToolBar>

namespace {

void Operate()
{
    const QString port = qEnvironmentVariable("PANEL_OPERATOR_PORT");
    if (port.isEmpty())
        return;
    const int runMs = qEnvironmentVariableIntValue("PANEL_OPERATOR_MS");
    QTimer::singleShot(0, qApp, [port, runMs] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<QMainWindow *>(top);
            if (!window)
                continue;
            // The port box is the tool bar's; the chart page has a box of its own.
            window->findChild<QToolBar *>()->findChild<QComboBox *>()->setEditText(port);
            for (QAction *action : window->findChildren<QAction *>()) {
                if (action->text() == QStringLiteral("Подключить"))
                    action->trigger();
            }
            QTimer::singleShot(runMs, window, &QWidget::close);
        }
    });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Operate)
