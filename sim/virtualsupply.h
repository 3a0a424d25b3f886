#pragma once

#include "faultplan.h"
#include "lineassembler.h"
#include "supplymodel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <map>
#include <memory>

class PtyEndpoint;
class ReplyScheduler;

struct VirtualSupplyOptions {
    quint8 address = 0;
    double loadOhms = 10.0;  // 0 or less: open circuit
    bool pace9600 = false;   // replies at the speed of a 9600-baud line
    quint32 seed = 1;        // for the faults and the measurement noise
    // Fault probabilities per reply, 0..1 (see FaultPlan).
    double drop = 0;
    double corrupt = 0;
    double split = 0;
    double noise = 0;
    double late = 0;
    bool silent = false;     // receives, never answers
    bool traceable = false;  // read replies carry TraceablePattern data
    // Further supplies on the same line, each with a model of its own; the
    // faults and pacing are the line's, so they apply to every address.
    QList<quint8> moreAddresses;
    QMap<quint8, double> loadByAddress;  // instead of loadOhms for that address
    QSet<quint8> silentAddresses;        // served, but never answer
};

// A power supply on a pseudo-terminal: a client opens portPath() as its serial
// port and talks to it as to the real device. Runs on the caller's event loop.
//
// A request line (from '#' through the carriage return) is answered when it
// decodes, its CRC checks and it is addressed to this supply (or to one of the
// further supplies it serves on the same line, each answering from its own
// model); anything else is met with silence, as from a device on a shared line. The reply comes from
// the model, or in traceable mode from TraceablePattern, and then passes
// through the fault plan.
//
// Test hooks: queueRawReply() takes over the answer to the next line received,
// whatever it holds, bypassing checks, silence and faults; receivedLines()
// lists every line received.
class VirtualSupply : public QObject
{
    Q_OBJECT

public:
    using Options = VirtualSupplyOptions;

    explicit VirtualSupply(QObject *parent = nullptr);
    explicit VirtualSupply(const Options &options, QObject *parent = nullptr);
    ~VirtualSupply() override;

    bool open(QString *error);
    QString portPath() const;
    bool makeLink(const QString &path, QString *error);
    // The supply's side of the line vanishes; replies still waiting are lost.
    void closeMaster();

    SupplyModel &model() { return supplyModel; }
    // The model of a served address, or nullptr.
    SupplyModel *modelAt(quint8 address);
    // Every address served, the first one first.
    QList<quint8> addresses() const;
    const Options &options() const { return opts; }
    // Address, pacing, faults (re-seeded), silence and traceability; the
    // model, including its load, is left as it is. Further addresses keep
    // their models; new ones get a model of their own.
    void setOptions(const Options &options);

    // The next received line is answered with exactly these characters, piece
    // by piece with gapMs between pieces (0: all in one write). Queued replies
    // are used in order, one per line.
    void queueRawReply(const QList<QByteArray> &pieces, int gapMs = 0);
    int queuedRawReplies() const { return rawReplies.size(); }

    QList<QByteArray> receivedLines() const { return received; }
    void clearReceived() { received.clear(); }

    // Replies whose last character has been written to the line.
    int repliesSent() const { return sent; }
    // Lines that got no reply: not for us, not valid, unknown, silenced or
    // dropped by a fault.
    int requestsIgnored() const { return ignored; }
    // Nothing is waiting to go on the line.
    bool isIdle() const;

    // Could data have been sent for command by a traceable supply?
    static bool isTraceableData(quint8 command, const QByteArray &data);

signals:
    // Emitted once the line has been dealt with: any reply to it is scheduled
    // (or, unpaced and without delay, already written) by then.
    void lineReceived(const QByteArray &line);
    void replyWritten(const QByteArray &text);

private slots:
    void takeBytes(const QByteArray &bytes);
    void countReply(const QByteArray &text);

private:
    struct RawReply {
        QList<QByteArray> pieces;
        int gapMs = 0;
    };

    void handleLine(const QByteArray &line);
    // Schedules the model's reply through the faults; false when none goes out.
    bool answer(const QByteArray &line);
    // The frame text of the model's reply, or empty for silence.
    QByteArray replyTo(const QByteArray &line);
    void advanceModelClock();
    void makeFurtherModels();

    Options opts;
    SupplyModel supplyModel;
    std::map<quint8, std::unique_ptr<SupplyModel>> furtherModels;
    FaultPlan faults;
    LineAssembler assembler;
    PtyEndpoint *endpoint;
    ReplyScheduler *scheduler;
    QElapsedTimer modelClock;
    qint64 modelClockMs = 0;
    QList<RawReply> rawReplies;
    QList<QByteArray> received;
    quint16 traceSerial = 0;
    int sent = 0;
    int ignored = 0;
};
