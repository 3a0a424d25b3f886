#include "commandcontext.h"

#include "exitstatus.h"
#include "lostportwatch.h"
#include "portchoice.h"
#include "sharedline.h"
#include "supplyport.h"
#include "writeguard.h"
#include "writeattempts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

bool Write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    return std::fflush(stream) == 0 && written;
}

QString OutcomeText(SupplyOutcome outcome, SupplyStep step)
{
    const bool noReply = outcome == SupplyOutcome::NoReply;
    switch (step) {
    case SupplyStep::Read:
        return noReply ? QStringLiteral("the supply did not answer")
                       : QStringLiteral("the supply's reply was rejected (see --trace)");
    case SupplyStep::Write:
        return (noReply ? QStringLiteral("the supply did not answer the write in %1 tries")
                        : QStringLiteral("the supply did not acknowledge the write in %1 tries"))
            .arg(WriteTries);
    case SupplyStep::ReadBack:
        break;
    }
    if (outcome == SupplyOutcome::NotConfirmed)
        return QStringLiteral("the write was acknowledged, but the supply reads back other values");
    return noReply ? QStringLiteral("the write was acknowledged, but reading it back got no answer")
                   : QStringLiteral("the write was acknowledged, but reading it back got a rejected "
                                    "reply (see --trace)");
}

}  // namespace

bool WriteOut(const QString &text)
{
    return Write(stdout, text);
}

void WriteErr(const QString &text)
{
    Write(stderr, text);
}

QString OutputFailure()
{
    const int error = errno;
    return QStringLiteral("cannot write the standard output: %1")
        .arg(error ? qt_error_string(error) : QStringLiteral("write failed"));
}

CommandContext::CommandContext(const GlobalOptions &options)
    : options(options)
{
    if (this->options.addresses.isEmpty())
        this->options.addresses = {options.address};
}

CommandContext::~CommandContext() = default;

void CommandContext::SetDoing(const QString &doing)
{
    // Before Connect(): what the others will see once it is on the line.
    options.command = doing;
    if (!line)
        return;
    LineMember member = line->Member();
    member.doing = doing;
    line->SetMember(member);
}

void CommandContext::UseAddress(quint8 address)
{
    options.address = address;
    if (session)
        session->SetAddress(address);
}

int CommandContext::Connect()
{
    QString error;
    portPath = ChoosePortPath(options.port, &error);
    if (portPath.isEmpty())
        return Fail(ExitStatus::Usage, error);
    // A port another program holds may be let go within --wait.
    QElapsedTimer waited;
    waited.start();
    bool busy = false;
    session = std::make_unique<SupplySession>(&port, options.address);
    line = std::make_unique<SharedLine>(port, session->Link());
    LineMember member;
    member.program = QStringLiteral("velkaroctl");
    for (quint8 address : options.addresses)
        member.addresses << address;
    member.doing = options.command;
    line->SetMember(member);
    // A port held by a program that shares it is attached to at once; one
    // held alone (or --exclusive) may be let go within --wait.
    while (!line->Open(portPath, options.exclusive, &error, &busy)) {
        if (!busy || waited.elapsed() >= options.waitMs) {
            if (busy && options.waitMs > 0)
                error += QStringLiteral(" (waited %1 s)").arg(double(options.waitMs) / 1000.0);
            return Fail(ExitStatus::PortFailed, QStringLiteral("cannot open %1: %2").arg(portPath, error));
        }
        if (waitEnders) {
            QCoreApplication::processEvents();
            if (waitEndedBy)
                return Interrupted(waitWhat, waitEndedBy);
        }
        QThread::msleep(ulong(qBound(qint64(1), options.waitMs - waited.elapsed(), qint64(100))));
    }
    // Closes the port at the first error of a lost line and keeps the reason.
    portWatch = LostPortWatch::For(&port);
    if (options.trace)
        session->SetFrameTrace(stderr);
    return ExitStatus::Success;
}

QString CommandContext::PortLoss() const
{
    return portWatch ? portWatch->Reason() : QString();
}

int CommandContext::PrintResult(const QJsonObject &json, const OutputRows &rows) const
{
    if (options.json) {
        if (!WriteOut(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) + '\n'))
            return Fail(ExitStatus::Usage, OutputFailure());
        return ExitStatus::Success;
    }
    int width = 0;
    for (const auto &row : rows)
        width = std::max(width, row.first.size());
    QString text;
    for (const auto &row : rows)
        text += row.first.leftJustified(width + 2) + row.second + '\n';
    if (!WriteOut(text))
        return Fail(ExitStatus::Usage, OutputFailure());
    return ExitStatus::Success;
}

int CommandContext::PrintLines(const QJsonObject &json, const QStringList &lines) const
{
    if (options.json)
        return PrintResult(json, {});
    if (!WriteOut(lines.join('\n') + '\n'))
        return Fail(ExitStatus::Usage, OutputFailure());
    return ExitStatus::Success;
}

int CommandContext::Fail(int status, const QString &message) const
{
    WriteErr(QStringLiteral("velkaroctl: %1\n").arg(message));
    if (options.json && SeveralAddresses()) {
        const QJsonObject object{{QStringLiteral("address"), int(options.address)},
                                 {QStringLiteral("error"), message},
                                 {QStringLiteral("exit"), status}};
        WriteOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
        return status;
    }
    return FailJson(options.json, status, message);
}

int FailJson(bool json, int status, const QString &message)
{
    if (json) {
        const QJsonObject object{{QStringLiteral("error"), message}, {QStringLiteral("exit"), status}};
        WriteOut(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + '\n');
    }
    return status;
}

void CommandContext::EndWaitOn(TerminationSignals *termination, const QString &what)
{
    waitEnders = termination;
    waitWhat = what;
    QObject::connect(termination, &TerminationSignals::received, termination, [this](int signalNumber) {
        if (waitEndedBy == 0)
            waitEndedBy = signalNumber;
    });
}

void CommandContext::SetWriteGuard(WriteGuard *guard, const QString &what)
{
    EndWaitOn(&guard->Signals(), what);
}

int CommandContext::Interrupted(const QString &what, int signalNumber,
                                std::optional<SupplyOutcome> outcome) const
{
    const QString state = !outcome || !session ? QStringLiteral("nothing was sent")
                          : *outcome == SupplyOutcome::Done
                              ? QStringLiteral("the write was finished and the supply confirmed it")
                              : QStringLiteral("the supply was left unconfirmed: ")
                                    + OutcomeText(*outcome, session->LastStep());
    return Fail(128 + signalNumber, QStringLiteral("%1: stopped by %2; %3")
                                        .arg(what, WriteGuard::SignalName(signalNumber), state));
}

QString CommandContext::SupplyFailureText(const QString &what, SupplyOutcome outcome, const QString &detail) const
{
    return SupplyFailureTextAt(what, outcome, session->LastStep(), detail);
}

QString CommandContext::SupplyFailureTextAt(const QString &what, SupplyOutcome outcome,
                                            SupplyStep step, const QString &detail) const
{
    QString message = what + QStringLiteral(": ") + OutcomeText(outcome, step);
    if (!detail.isEmpty())
        message += QStringLiteral(": ") + detail;
    // Attached: the supply may be fine and the program holding the line not.
    const QString silentOwner = line ? line->SilentOwner() : QString();
    if (!silentOwner.isEmpty())
        message += QStringLiteral("; the line's owner, %1, does not answer").arg(silentOwner);
    return message + QStringLiteral(" (port %1, address %2)").arg(portPath).arg(options.address);
}

int CommandContext::FailSupplyAt(const QString &what, SupplyOutcome outcome, SupplyStep step,
                                 const QString &detail) const
{
    return Fail(ExitStatus::SupplyFailed, SupplyFailureTextAt(what, outcome, step, detail));
}

int CommandContext::FailSupply(const QString &what, SupplyOutcome outcome, const QString &detail) const
{
    return Fail(ExitStatus::SupplyFailed, SupplyFailureText(what, outcome, detail));
}
