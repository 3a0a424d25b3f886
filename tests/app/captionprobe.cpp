// Preloaded into the real program (LD_PRELOAD): once the window is up it
// prints the caption of its first page on a line of its own and closes it,
// so that a test can see which language the program chose.

#include <QApplication>
#include <QMainWindow>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

void Probe()
{
    QTimer::singleShot(0, qApp, [] {
        for (QWidget *top : QApplication::topLevelWidgets()) {
            auto *window = qobject_cast<QMainWindow *>(top);
            if (!window)
                continue;
            std::printf("%s\n", window->findChild<QTabWidget *>()->tabText(0).toUtf8().constData());
            std::fflush(stdout);
            window->close();
        }
    });
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Probe)
