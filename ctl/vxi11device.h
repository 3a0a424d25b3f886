#pragma once

#include "scpiturntaker.h"

#include <QByteArray>
#include <QObject>
#include <QQueue>

#include <map>
#include <optional>

class ScpiInstrument;
class ScpiTurns;

// One instrument as a VXI-11 device: carries out the messages of its links
// on the instrument, in their turns with every other client of every
// instrument on the line (see ScpiTurns), and keeps each link's answers for
// its reads. Links share the instrument's state (error queue, status
// registers), as raw-socket clients do, and the device's one lock.
//
// Every answer belongs to the message that asked it: a link whose read timed
// out or that was cleared has the answers of its messages still queued or
// under way dropped when they come, so that its next read never gets an
// earlier query's answer.
class Vxi11Device : public QObject, public ScpiTurnTaker
{
    Q_OBJECT

public:
    // A link's messages waiting at most before a write waits for room.
    static constexpr int MaxQueuedPerLink = 8;

    Vxi11Device(ScpiInstrument &instrument, ScpiTurns &turns, QObject *parent = nullptr);
    ~Vxi11Device() override;

    void AddLink(quint32 link);
    // Drops the link's waiting messages and answers and lets go of its
    // lock; a message of it under way is finished, its answer dropped.
    void RemoveLink(quint32 link);

    bool HasRoom(quint32 link) const;
    // A message (one line, without its end); overrun stands for a line
    // dropped as too long, which queues -363 in its turn.
    void Queue(quint32 link, const QByteArray &message, bool overrun = false);
    // Asks for the status byte (*STB?, with bit 4 set while an answer waits
    // for this link), in its turn like a message.
    void QueueStatusByte(quint32 link);

    // The link's oldest answer not yet read whole, with its line end; null
    // when none waits.
    QByteArray *Answer(quint32 link);
    void AnswerTaken(quint32 link);
    // The status byte asked for last, once it came; taken by the call.
    std::optional<quint8> TakeStatusByte(quint32 link);

    // A read timed out: answers of the link's messages waiting or under way
    // are dropped when they come.
    void DropComingAnswers(quint32 link);
    // A status byte that is still to come is not wanted any more.
    void DropComingStatusByte(quint32 link);
    // device_clear: drops the link's waiting messages, its answers, and
    // those still to come.
    void Clear(quint32 link);

    // The device's lock: held by one link at a time.
    bool LockedByOther(quint32 link) const { return lockHolder != 0 && lockHolder != link; }
    bool Holds(quint32 link) const { return lockHolder == link; }
    bool Lock(quint32 link);
    bool Unlock(quint32 link);

    bool HasWaiting() const override;
    void RunNextTurn() override;
    void ServeEachWaiting(bool forAnotherInstrument) override;

signals:
    // A message or status byte request of the link is carried out.
    void Finished(quint32 link);
    void LockReleased();

private:
    struct Job {
        QByteArray text;
        bool statusByte = false;
        bool overrun = false;
        quint64 generation = 0;
    };
    struct Link {
        QQueue<Job> jobs;
        QQueue<QByteArray> answers;
        std::optional<quint8> statusByte;
        // Bumped when the answers still to come are not wanted.
        quint64 answerGeneration = 0;
        quint64 statusGeneration = 0;
    };

    quint32 NextTurn() const;
    void RunOne(quint32 link);
    // The hook of the instrument while one of this device's messages runs:
    // other clients get their turns between two tries.
    void ServeOthers();

    ScpiInstrument &instrument;
    ScpiTurns &turns;
    std::map<quint32, Link> links;
    quint32 lockHolder = 0;
    quint32 lastServed = 0;
    quint32 serving = 0;
    quint32 suspended = 0;
};
