#include "commandcontext.h"

#include "exitstatus.h"
#include "lostportwatch.h"
#include "supplyport.h"
#include "writeattempts.h"

#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

namespace {

void Write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
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

void WriteOut(const QString &text)
{
    Write(stdout, text);
}

void WriteErr(const QString &text)
{
    Write(stderr, text);
}

CommandContext::CommandContext(const GlobalOptions &options)
    : options(options)
{
}

int CommandContext::Connect()
{
    QString error;
    portPath = ChoosePortPath(options.port, &error);
    if (portPath.isEmpty())
        return Fail(ExitStatus::Usage, error);
    if (!OpenSupplyPort(port, portPath, &error))
        return Fail(ExitStatus::PortFailed, QStringLiteral("cannot open %1: %2").arg(portPath, error));
    // Closes the port at the first error of a lost line and keeps the reason.
    LostPortWatch::For(&port);
    session = std::make_unique<SupplySession>(&port, options.address);
    if (options.trace)
        session->SetTrace(stderr);
    return ExitStatus::Success;
}

QString CommandContext::PortLoss() const
{
    const auto *watch = port.findChild<LostPortWatch *>(QString(), Qt::FindDirectChildrenOnly);
    return watch ? watch->Reason() : QString();
}

void CommandContext::PrintResult(const QJsonObject &json, const OutputRows &rows) const
{
    if (options.json) {
        WriteOut(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) + '\n');
        return;
    }
    int width = 0;
    for (const auto &row : rows)
        width = std::max(width, row.first.size());
    QString text;
    for (const auto &row : rows)
        text += row.first.leftJustified(width + 2) + row.second + '\n';
    WriteOut(text);
}

int CommandContext::Fail(int status, const QString &message) const
{
    WriteErr(QStringLiteral("velkaroctl: %1\n").arg(message));
    if (options.json) {
        const QJsonObject json{{QStringLiteral("error"), message}, {QStringLiteral("exit"), status}};
        WriteOut(QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)) + '\n');
    }
    return status;
}

int CommandContext::FailSupply(const QString &what, SupplyOutcome outcome, const QString &detail) const
{
    QString message = what + QStringLiteral(": ") + OutcomeText(outcome, session->LastStep());
    if (!detail.isEmpty())
        message += QStringLiteral(": ") + detail;
    message += QStringLiteral(" (port %1, address %2)").arg(portPath).arg(options.address);
    return Fail(ExitStatus::SupplyFailed, message);
}
