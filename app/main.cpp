#include "mainwindow.h"
#include "standarddescriptors.h"
#include "tracefile.h"
#include "uilanguage.h"

#include <QApplication>
#include <QLocale>

#include <csignal>
#include <memory>
#include <cstdio>
#include <cstring>

namespace {

// The toolkit aborts with a hint to reinstall it when no display can be
// reached; say plainly what is missing instead. A platform chosen by
// environment or argument (offscreen, say) needs no display.
bool DisplayChosen(int argc, char *argv[])
{
#ifdef Q_OS_LINUX
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return false;
#else
    Q_UNUSED(argc)
    Q_UNUSED(argv)
    return true;
#endif
}

}  // namespace

int main(int argc, char *argv[])
{
    OpenStandardDescriptors();
#ifdef SIGPIPE
    // The trace goes to the standard output; when that is a pipe whose reader
    // has gone, a write must fail (and the trace stop) rather than end the
    // program while the supply may be switched on.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (!DisplayChosen(argc, argv)) {
        std::fprintf(stderr, "velkaro: no display found; run it in a graphical session "
                             "(DISPLAY or WAYLAND_DISPLAY set), or under xvfb-run\n");
        return 1;
    }

    QApplication app(argc, argv);
    const UiLanguageChoice language = ChooseUiLanguage(
        app.arguments(), qEnvironmentVariable("VELKARO_LANG"), QLocale::system());
    if (!language.error.isEmpty()) {
        std::fprintf(stderr, "velkaro: %s\n", qPrintable(language.error));
        return 2;
    }
    if (!language.warning.isEmpty())
        std::fprintf(stderr, "velkaro: %s\n", qPrintable(language.warning));
    QString missing;
    if (!InstallUiLanguage(&app, language.language, &missing))
        std::fprintf(stderr, "velkaro: %s\n", qPrintable(missing));
    // The link's trace goes to the standard output, or to a file of bounded
    // size named by VELKARO_TRACE_FILE (VELKARO_TRACE_LIMIT bytes, 10 MB by
    // default, and one older file beside it).
    std::unique_ptr<TraceFile> traceFile;
    const QString tracePath = qEnvironmentVariable("VELKARO_TRACE_FILE");
    if (!tracePath.isEmpty()) {
        bool ok = false;
        qint64 limit = qEnvironmentVariable("VELKARO_TRACE_LIMIT").toLongLong(&ok);
        if (!ok || limit <= 0)
            limit = TraceFile::DefaultLimit;
        traceFile = std::make_unique<TraceFile>(tracePath, limit);
        QString reason;
        if (!traceFile->Start(&reason)) {
            std::fprintf(stderr, "velkaro: cannot write the trace to %s: %s\n", qPrintable(tracePath),
                         qPrintable(reason));
            return 2;
        }
    }
    int exitCode = 0;
    {
        MainWindow window;
        if (traceFile)
            window.TraceTo(traceFile.get());
        window.show();
        exitCode = app.exec();
    }
    return exitCode;
}
