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
    // owner goes, or ExchangeBoundMs pass.
    LinkResult Exchange(const LineRequest &request, QByteArray *reply) override;

    // Past this an owner that does not answer is taken to be stuck: the
    // request counts as unanswered. The owner makes a write within its own
    // exchange plus one round of every attached program's.
    static constexpr int ExchangeBoundMs = 3000;

signals:
    // The owner went (exited, was killed, or let the line go).
    void detached();
    void membersChanged();

private slots:
    void ReadOwner();

private:
    QLocalSocket *socket = nullptr;
    QByteArray buffer;
    quint32 nextSerial = 0;
    quint64 attachment = 0;  // counts Attach() calls
    std::map<quint32, LineOutcome> outcomes;
    QList<LineMember> members;
    bool membersKnown = false;
};
