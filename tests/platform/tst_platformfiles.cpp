#include "consoleoutput.h"
#include "filesync.h"
#include "filetext.h"
#include "scpisocketio.h"
#include "terminal.h"
#include "terminationsignals.h"
#include "testmain.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <csignal>
#include <cstdio>
#include <fcntl.h>

#ifdef Q_OS_WIN
#include <io.h>
#include <winsock2.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
const char NullDevice[] = "NUL";
int OpenForWriting(const char *path) { return _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT, 0600); }
int Duplicate(int fd) { return _dup(fd); }
void DuplicateOnto(int fd, int target) { _dup2(fd, target); }
void CloseDescriptor(int fd) { _close(fd); }
#else
const char NullDevice[] = "/dev/null";
int OpenForWriting(const char *path) { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600); }
int Duplicate(int fd) { return ::dup(fd); }
void DuplicateOnto(int fd, int target) { ::dup2(fd, target); }
void CloseDescriptor(int fd) { ::close(fd); }
#endif

// Points one of the process's standard descriptors (1 or 2) at a file or
// device for as long as it lives. On Windows the file starts in text mode, as
// a redirected output does, so that a CR added before each LF would show.
class DescriptorSwap
{
public:
    DescriptorSwap(int target, const QByteArray &path)
        : target(target)
    {
        std::fflush(stdout);
        std::fflush(stderr);
        replacement = OpenForWriting(path.constData());
        saved = Duplicate(target);
        if (replacement >= 0 && saved >= 0)
            DuplicateOnto(replacement, target);
    }
    ~DescriptorSwap()
    {
        std::fflush(stdout);
        std::fflush(stderr);
        if (saved >= 0) {
            DuplicateOnto(saved, target);
            CloseDescriptor(saved);
        }
        if (replacement >= 0)
            CloseDescriptor(replacement);
    }
    DescriptorSwap(const DescriptorSwap &) = delete;
    DescriptorSwap &operator=(const DescriptorSwap &) = delete;
    bool isValid() const { return replacement >= 0 && saved >= 0; }

private:
    int target;
    int replacement = -1;
    int saved = -1;
};

// Takes each accepted connection as its bare descriptor, as the SCPI server's
// listener does.
class DescriptorServer : public QTcpServer
{
public:
    qintptr taken = -1;

protected:
    void incomingConnection(qintptr descriptor) override { taken = descriptor; }
};

// A client socket of its own, connected to the port on this machine, as a
// client such as nc has one (the toolkit's socket would read it first).
qintptr ConnectedClient(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto client = socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(client, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ScpiSocketIo::Close(qintptr(client));
        return -1;
    }
    return qintptr(client);
}

// Reads what the socket has; true once the peer's input has ended.
bool ReceiveUntilEnd(qintptr socket, QByteArray *got)
{
    char buffer[256];
    for (;;) {
        const qint64 n = ScpiSocketIo::Receive(socket, buffer, sizeof buffer);
        if (n > 0)
            got->append(buffer, int(n));
        else
            return n == 0;
    }
}

}  // namespace

class TestPlatformFiles : public QObject
{
    Q_OBJECT

private slots:
    void syncPushesARecordingThroughItsNativePath()
    {
        QTemporaryDir dir;
        // The path as the system writes it: on Windows with a drive letter
        // and backslashes.
        const QString path = QDir::toNativeSeparators(dir.filePath(QStringLiteral("run.csv")));
#ifdef Q_OS_WIN
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Za-z]:\\\\")).match(path).hasMatch(), qPrintable(path));
#endif
        QFile file(path);
        QVERIFY(!SyncFileToDisk(file));  // not open
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
        QVERIFY(file.write("time,voltage\n") == 13 && file.flush());
        QVERIFY(SyncFileToDisk(file));
        QVERIFY(file.write("0.000,12.50\n") == 12 && file.flush());
        QVERIFY(SyncFileToDisk(file));
        file.close();
        QVERIFY(!SyncFileToDisk(file));
        QCOMPARE(ReadFile(path), QByteArray("time,voltage\n0.000,12.50\n"));
        // Nothing the sync opened keeps the file: Windows refuses to delete
        // a file that is still open.
        QVERIFY(QFile::remove(path));
    }

    void halfClosedClientStillGetsItsAnswer()
    {
        DescriptorServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const qintptr client = ConnectedClient(server.serverPort());
        QVERIFY(client != -1);
        QTRY_VERIFY(server.taken != -1);
        const qintptr socket = server.taken;
        QVERIFY(ScpiSocketIo::Prepare(socket));
        QVERIFY(ScpiSocketIo::Prepare(client));
        char buffer[16];
        QCOMPARE(ScpiSocketIo::Receive(socket, buffer, sizeof buffer), ScpiSocketIo::WouldBlock);

        // The client sends its query and shuts down its sending side, as
        // "nc -N" does.
        QCOMPARE(ScpiSocketIo::Send(client, "*IDN?\n", 6), qint64(6));
        ScpiSocketIo::ShutdownSend(client);
        QByteArray query;
        QTRY_VERIFY(ReceiveUntilEnd(socket, &query));
        QCOMPARE(query, QByteArray("*IDN?\n"));

        // The answer still reaches it, and then the end of the server's output.
        QCOMPARE(ScpiSocketIo::Send(socket, "ANSWER\n", 7), qint64(7));
        ScpiSocketIo::ShutdownSend(socket);
        QByteArray answer;
        QTRY_VERIFY(ReceiveUntilEnd(client, &answer));
        QCOMPARE(answer, QByteArray("ANSWER\n"));
        ScpiSocketIo::Close(socket);
        ScpiSocketIo::Close(client);
    }

    void aVanishedClientFailsTheSend()
    {
        DescriptorServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(client.waitForConnected(5000));
        QTRY_VERIFY(server.taken != -1);
        const qintptr socket = server.taken;
        QVERIFY(ScpiSocketIo::Prepare(socket));
        client.abort();
        // The first send may still be taken; the peer's reset fails a later one.
        QTRY_COMPARE(ScpiSocketIo::Send(socket, "1\n", 2), ScpiSocketIo::Failed);
        ScpiSocketIo::Close(socket);
    }

    void fileOrNullDeviceIsNoTerminal()
    {
        QTemporaryDir dir;
        {
            DescriptorSwap toFile(2, QFile::encodeName(dir.filePath(QStringLiteral("err.txt"))));
            QVERIFY(toFile.isValid());
            QVERIFY(!StandardErrorIsTerminal());
        }
        {
            // A character device, but no console to redraw a line on.
            DescriptorSwap toNull(2, NullDevice);
            QVERIFY(toNull.isValid());
            QVERIFY(!StandardErrorIsTerminal());
        }
    }

    void consoleOutputCarriesUtf8AndBareLineFeeds()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.txt"));
        {
            DescriptorSwap toFile(1, QFile::encodeName(path));
            QVERIFY(toFile.isValid());
            PrepareConsoleOutput();
            std::fputs("12.50 V\n41 \xC2\xB0" "C\n", stdout);
        }
        QCOMPARE(ReadFile(path), QByteArray("12.50 V\n41 \xC2\xB0" "C\n"));
    }

#ifdef Q_OS_WIN
    void consoleGetsItsCodePageBack()
    {
        // The code page is the console's: what the program leaves there
        // stays for the next program.
        if (!GetConsoleWindow())
            QSKIP("no console (run the test on a terminal)");
        const UINT original = GetConsoleOutputCP();
        QVERIFY(SetConsoleOutputCP(866));
        PrepareConsoleOutput();
        QCOMPARE(GetConsoleOutputCP(), UINT(CP_UTF8));
        RestoreConsoleOutput();
        QCOMPARE(GetConsoleOutputCP(), UINT(866));
        SetConsoleOutputCP(original);
    }
#endif

    void stopRequestsArriveAsSignals()
    {
        QVERIFY(TerminationSignals::block());
        TerminationSignals termination;
        QVERIFY(termination.isValid());
        QSignalSpy spy(&termination, &TerminationSignals::received);
#ifdef Q_OS_WIN
        // Ctrl+C and Ctrl+Break reach the processes of a console.
        if (!GetConsoleWindow())
            QSKIP("no console to send Ctrl+C through (run the test on a terminal)");
        QVERIFY(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), int(SIGINT));
        // Wine's console makes Ctrl+C only.
        if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0))
            QSKIP("this console cannot make Ctrl+Break");
        QTRY_COMPARE(spy.count(), 2);
#else
        QCOMPARE(::raise(SIGINT), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(::raise(SIGTERM), 0);
        QTRY_COMPARE(spy.count(), 2);
#endif
        QCOMPARE(spy.at(0).at(0).toInt(), int(SIGINT));
        QCOMPARE(spy.at(1).at(0).toInt(), int(SIGTERM));
    }
};

PANEL_TEST_MAIN(TestPlatformFiles)
#include "tst_platformfiles.moc"
