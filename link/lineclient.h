#pragma once

#include "linemember.h"
#include "linemessage.h"
#include "linetransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <map>

class QLocalSocket;

// An attached program's side of a shared line: its link's transactions go to
// the line's owner through a local socket and are made there.
class LineClient : public QObject, public LineTransport
{
    Q_OBJECT

public:
    explicit LineClient(QObject *parent = nullptr);
    ~LineClient() override;

    // Connects to the owner serving under name and says who this is; false
    // when nobody serves it there within timeoutMs.
    bool Attach(const QString &name, const LineMember &me, int timeoutMs);
    void Detach();
    bool IsAttached() const;
    // Says what this program does now.
    void Tell(const LineMember &me);
    // Everybody on the line as the owner last told it, the owner first.
    QList<LineMember> Members() const { return members; }
    // Waits until the owner has told who is on the line.
    bool WaitForMembers(int timeoutMs);

    // Blocks (handling events) until the owner has made the exchange, the
    // owner goes, or ExchangeBoundMs pass (SilentOwnerWaitMs while the owner
    // is silent).
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override;
    // The owner answered the last request as not asked (its back-off).
    bool NotAsked() const override { return notAsked; }
    // The owner still holds the connection but said nothing during the last
    // exchange's whole bound: it is stopped or stuck.
    bool OwnerSilent() const { return ownerSilent; }

    // Past this an owner that does not answer is taken to be stuck: the
    // request counts as unanswered. The owner makes a request within its own
    // exchange plus one round of every attached program's, and makes none
    // that could end after this (see LineServer::StartMarginMs).
    static constexpr int ExchangeBoundMs = 3000;
    // Shorter than LineServer::StartMarginMs: the owner never makes these.
    static constexpr int SilentOwnerWaitMs = 300;

signals:
    // The owner went (exited, was killed, or let the line go).
    void detached();
    void membersChanged();
    // The owner heard a reply or an acknowledged write on the line.
    void heardOnLine(const LineHeard &heard);

private slots:
    void ReadOwner();

private:
    QLocalSocket *socket = nullptr;
    QByteArray buffer;
    quint32 nextSerial = 0;
    std::map<quint32, LineOutcome> outcomes;
    QList<LineMember> members;
    bool membersKnown = false;
    quint64 heard = 0;        // messages received from the owner
    quint64 attachments = 0;  // Attach() calls: which owner a request went to
    bool ownerSilent = false;
    bool notAsked = false;
};
