#pragma once

#include "supplysession.h"

#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class LostPortWatch;
class SharedLine;
class TerminationSignals;
class WriteGuard;

// The options given before the command.
struct GlobalOptions {
    QString port;  // empty: ChoosePortPath decides
    quint8 address = 0;        // the first of addresses
    QList<quint8> addresses;   // every address given, in order; at least address
    bool json = false;
    bool trace = false;
    qint64 waitMs = 0;  // how long to wait for a port another program holds
    bool exclusive = false;  // neither share the line nor attach to its owner
    QString command;         // what the others on a shared line see this program do
};

// Label and value of one line of human output.
using OutputRows = QList<QPair<QString, QString>>;

// What every command works with: the global options, the supply once
// connected, and the one way results and failures reach the user.
class CommandContext
{
public:
    explicit CommandContext(const GlobalOptions &options);
    ~CommandContext();

    const GlobalOptions &Options() const { return options; }

    // Chooses and opens the port and starts a session on it. Returns
    // ExitStatus::Success, or the status to end with after saying why.
    int Connect();
    SupplySession &Session() { return *session; }
    // With several addresses: the one the following steps, messages and
    // failure objects (under --json, with an "address" field) are about.
    void UseAddress(quint8 address);
    bool SeveralAddresses() const { return options.addresses.size() > 1; }
    QSerialPort &Port() { return port; }
    // The line as shared with this user's other programs: open (owned or
    // attached) once Connect() has succeeded.
    SharedLine &Line() { return *line; }
    // Tells the others on the line what this program does now (called
    // before Connect(), what it will do once there).
    void SetDoing(const QString &doing);
    // The path Connect() chose and opened.
    QString PortPath() const { return portPath; }
    // Why the open port failed and was closed (the line went away), or empty.
    QString PortLoss() const;

    // A command's result on the standard output: the JSON object under
    // --json, otherwise the rows with their values aligned. Returns
    // ExitStatus::Success, or ExitStatus::Usage after saying why the output
    // could not be written.
    int PrintResult(const QJsonObject &json, const OutputRows &rows) const;
    // The same with bare lines, one value each, instead of rows.
    int PrintLines(const QJsonObject &json, const QStringList &lines) const;
    // Says what went wrong on the standard error (and, under --json, as an
    // object with "error" on the standard output) and returns status.
    int Fail(int status, const QString &message) const;
    // What FailSupply says, without saying it.
    QString SupplyFailureText(const QString &what, SupplyOutcome outcome, const QString &detail = {}) const;
    QString SupplyFailureTextAt(const QString &what, SupplyOutcome outcome, SupplyStep step,
                                const QString &detail = {}) const;
    // The same for a step with the supply that did not end Done: names the
    // step and what became of it. detail, when given, follows the message.
    int FailSupply(const QString &what, SupplyOutcome outcome,
                   const QString &detail = QString()) const;
    // The same for an outcome kept from an earlier step.
    int FailSupplyAt(const QString &what, SupplyOutcome outcome, SupplyStep step,
                     const QString &detail = QString()) const;
    // After a write that went on to its end although signalNumber came: one
    // line saying whether the supply was left confirmed, and the status
    // 128 + signalNumber. An outcome that is not Done names what failed; no
    // outcome: nothing was sent.
    int Interrupted(const QString &what, int signalNumber,
                    std::optional<SupplyOutcome> outcome = std::nullopt) const;
    // For a command that holds SIGINT and SIGTERM off: waiting for a busy
    // port (--wait) ends on one of them with nothing sent, as Interrupted()
    // tells, instead of lasting the whole wait.
    void EndWaitOn(TerminationSignals *termination, const QString &what);
    // The same for a command that writes, through its guard.
    void SetWriteGuard(WriteGuard *guard, const QString &what);

private:
    GlobalOptions options;
    QString portPath;
    QSerialPort port;
    LostPortWatch *portWatch = nullptr;  // the port's child
    std::unique_ptr<SupplySession> session;
    std::unique_ptr<SharedLine> line;  // goes before the session: it drains the link
    TerminationSignals *waitEnders = nullptr;
    QString waitWhat;
    int waitEndedBy = 0;  // the first signal received, or 0
};

// Writes text to the standard output or error at once, in UTF-8. WriteOut
// is false when the text did not all reach the output (errno says why).
bool WriteOut(const QString &text);
void WriteErr(const QString &text);
// "cannot write the standard output: " and the system's reason from errno.
QString OutputFailure();
// Under --json, the failure as an object on the standard output, for
// failures told before a context exists. Returns status.
int FailJson(bool json, int status, const QString &message);
