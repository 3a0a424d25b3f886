// The real program, started as a user would start it.

#include "testmain.h"
#include "virtualsupply.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

// Gives the child's standard output to a descriptor of the test's choosing.
class ProcessWithOutput : public QProcess
{
public:
    int outputFd = -1;

protected:
    void setupChildProcess() override
    {
        if (outputFd >= 0)
            ::dup2(outputFd, STDOUT_FILENO);
    }
};

}  // namespace

class ProgramTest : public QObject
{
    Q_OBJECT

private slots:
    // Its trace goes to a pipe whose reader has gone: the program goes on
    // talking to the supply and ends normally when its window is closed.
    void survivesAClosedPipe()
    {
        VirtualSupply supply;
        QString error;
        QVERIFY2(supply.open(&error), qPrintable(error));
        int fds[2];
        QCOMPARE(::pipe(fds), 0);
        ::close(fds[0]);

        ProcessWithOutput program;
        program.outputFd = fds[1];
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LD_PRELOAD", OPERATOR_PRELOAD);
        env.insert("PANEL_OPERATOR_PORT", supply.portPath());
        env.insert("PANEL_OPERATOR_MS", "1000");
        // The operator looks for the Russian captions, whatever the locale.
        env.insert("VELKARO_LANG", "ru");
        // A sanitized build: the operator library loads ahead of the runtime.
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        program.setProcessEnvironment(env);
        program.start(VELKARO_EXE, QStringList());
        QVERIFY(program.waitForStarted());
        ::close(fds[1]);

        QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 15000);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        // Set-points twice, the user page, then status and measurements.
        QVERIFY2(supply.receivedLines().size() >= 5,
                 qPrintable(QString::number(supply.receivedLines().size())));
    }

    // Started with descriptors 0, 1 and 2 closed, the program keeps them
    // for itself (on the null device): neither its port nor one of its
    // event descriptors becomes its standard output, where the trace goes,
    // and the supply gets requests alone.
    void startedWithClosedDescriptors()
    {
        VirtualSupply supply;
        QString error;
        QVERIFY2(supply.open(&error), qPrintable(error));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LD_PRELOAD", OPERATOR_PRELOAD);
        env.insert("PANEL_OPERATOR_PORT", supply.portPath());
        env.insert("PANEL_OPERATOR_MS", "1500");
        env.insert("VELKARO_LANG", "ru");
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral("bash"), {"-c", "exec \"$0\" <&- >&- 2>&-", VELKARO_EXE});
        QVERIFY(program.waitForStarted());
        // Connected: the descriptors it holds now are all it opens.
        QTRY_VERIFY_WITH_TIMEOUT(!supply.receivedLines().isEmpty(), 10000);
        for (int fd = 0; fd <= 2; ++fd)
            QCOMPARE(QFile::symLinkTarget(QStringLiteral("/proc/%1/fd/%2").arg(program.processId()).arg(fd)),
                     QStringLiteral("/dev/null"));
        QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 15000);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        const QList<QByteArray> lines = supply.receivedLines();
        QVERIFY2(lines.size() >= 5, qPrintable(QString::number(lines.size())));
        const QRegularExpression request(QStringLiteral("^#[0-9A-F]{12,}\r$"));
        for (const QByteArray &line : lines)
            QVERIFY2(request.match(QString::fromLatin1(line)).hasMatch(), line.constData());
    }

    // Named by VELKARO_TRACE_FILE, the trace goes to a file that never
    // passes its limit: a new one is begun and only the one before is kept.
    void traceFileStaysBounded()
    {
        VirtualSupply supply;
        QString error;
        QVERIFY2(supply.open(&error), qPrintable(error));
        QTemporaryDir dir;
        const QString trace = dir.filePath(QStringLiteral("trace.log"));
        const qint64 limit = 120;
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LD_PRELOAD", OPERATOR_PRELOAD);
        env.insert("PANEL_OPERATOR_PORT", supply.portPath());
        env.insert("PANEL_OPERATOR_MS", "2000");
        env.insert("VELKARO_LANG", "ru");
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
        env.insert("VELKARO_TRACE_FILE", trace);
        env.insert("VELKARO_TRACE_LIMIT", QString::number(limit));
        program.setProcessEnvironment(env);
        program.start(VELKARO_EXE, QStringList());
        QVERIFY(program.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(program.state(), QProcess::NotRunning, 15000);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(program.readAllStandardOutput(), QByteArray());
        // Eight exchanges or more, each reply traced as it came: more than
        // twice the limit was written.
        QVERIFY(supply.receivedLines().size() >= 8);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"trace.log", "trace.log.1"}));
        for (const QString &name : {trace, trace + ".1"}) {
            QFile file(name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray text = file.readAll();
            QVERIFY2(text.size() > 0 && text.size() <= limit, qPrintable(name));
            QVERIFY2(text.contains('#'), text.constData());
        }
    }

    void noDisplayIsOneClearLine()
    {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        program.setProcessEnvironment(env);
        program.start(VELKARO_EXE, QStringList());
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 1);
        const QByteArray text = program.readAllStandardError();
        QVERIFY2(text.startsWith("velkaro: no display found;"), text.constData());
        QCOMPARE(text.count('\n'), 1);
        QVERIFY(text.endsWith('\n'));
    }
};

PANEL_TEST_MAIN(ProgramTest)
#include "tst_program.moc"
