// The window connected to an in-process virtual supply, chart page showing,
// while a script works the set-points, the output and the load for about a
// minute; then it stays up for the given number of seconds in all. The chart
// window covers the screen; a page of the main window (by its tab's index)
// can be shown instead, and the window's language chosen as velkaro does.
//   chartshot <seconds> [--page <index>] [--lang en|ru]

#include "mainwindow.h"
#include "uilanguage.h"
#include "virtualsupply.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>

#include <cstdio>
#include <functional>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int seconds = arguments.value(1, QStringLiteral("70")).toInt();
    const int pageOption = arguments.indexOf(QStringLiteral("--page"));
    const int page = pageOption > 0 ? arguments.value(pageOption + 1).toInt() : -1;
    const UiLanguageChoice language =
        ChooseUiLanguage(arguments, qEnvironmentVariable("VELKARO_LANG"), QLocale::system());
    if (!language.error.isEmpty() || !InstallUiLanguage(&app, language.language)) {
        std::fprintf(stderr, "chartshot: %s\n", qPrintable(language.error));
        return 1;
    }
    VirtualSupply supply;
    QString error;
    if (!supply.open(&error)) {
        std::fprintf(stderr, "chartshot: %s\n", qPrintable(error));
        return 1;
    }
    MainWindow window;
    window.move(0, 0);
    window.show();
    if (page >= 0) {
        window.findChild<QTabWidget *>()->setCurrentIndex(page);
    } else {
        window.findChild<QAction *>(QStringLiteral("actionOpenChart"))->trigger();
        window.findChild<QComboBox *>(QStringLiteral("comboBoxChartSpan"))->window()->setGeometry(0, 0, 640, 400);
    }
    window.findChild<QToolBar *>()->findChild<QComboBox *>()->setEditText(supply.portPath());
    // The tool bar's first action connects, in either language.
    window.findChild<QToolBar *>()->actions().constFirst()->trigger();

    auto button = [&window](const char *name) {
        return window.findChild<QPushButton *>(QLatin1String(name));
    };
    auto setpoints = [&window, button](double volts, double amperes) {
        window.findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxV"))->setValue(volts);
        window.findChild<QDoubleSpinBox *>(QStringLiteral("doubleSpinBoxA"))->setValue(amperes);
        button("pushButtonApply")->click();
    };
    auto at = [&app](int s, std::function<void()> step) { QTimer::singleShot(s * 1000, &app, step); };
    at(3, [&] { button("pushButtonOnOff")->click(); });          // 5 V into 10 ohms
    at(12, [&] { setpoints(12.0, 1.0); });                       // current limit: CC
    at(22, [&] { supply.model().setLoadOhms(20.0); });           // back to CV
    at(30, [&] { VirtualSupply::Options o; o.silent = true; supply.setOptions(o); });
    at(33, [&] { supply.setOptions({}); });                      // a gap in the line
    at(36, [&] { setpoints(8.0, 1.5); });
    at(44, [&] { button("pushButtonOnOff")->click(); });          // off
    at(50, [&] { button("pushButtonOnOff")->click(); });          // on
    at(55, [&] { setpoints(3.3, 0.5); });                        // fine current range
    at(seconds, [&] { app.quit(); });
    return app.exec();
}
