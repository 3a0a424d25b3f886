#include "replyscheduler.h"

#include "ptyendpoint.h"

#include <QTimer>

#include <algorithm>

namespace {
constexpr qint64 NsPerMs = 1000000;
}

ReplyScheduler::ReplyScheduler(PtyEndpoint *endpoint, QObject *parent)
    : QObject(parent)
    , endpoint(endpoint)
    , timer(new QTimer(this))
{
    clock.start();
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(1);
    connect(timer, &QTimer::timeout, this, &ReplyScheduler::pump);
}

void ReplyScheduler::schedule(const QList<QByteArray> &pieces, int delayMs, int gapMs)
{
    Job job;
    for (const QByteArray &piece : pieces) {
        if (!piece.isEmpty())
            job.pieces.append(piece);
    }
    if (job.pieces.isEmpty())
        return;
    job.gapNs = qint64(std::max(gapMs, 0)) * NsPerMs;
    job.dueNs = now() + qint64(std::max(delayMs, 0)) * NsPerMs;
    // Keep the queue in time order, but never in front of a reply that is
    // already half on the line.
    int at = jobs.size();
    while (at > 0 && jobs.at(at - 1).dueNs > job.dueNs && !(at - 1 == 0 && jobs.first().started()))
        --at;
    jobs.insert(at, job);
    pump();
}

void ReplyScheduler::clear()
{
    jobs.clear();
    timer->stop();
}

void ReplyScheduler::pump()
{
    while (!jobs.isEmpty()) {
        const qint64 t = now();
        Job &job = jobs.first();
        if (paced && !job.started())
            job.dueNs = std::max(job.dueNs, lineFreeNs);
        if (t < job.dueNs)
            break;
        const QByteArray piece = job.pieces.at(job.piece);
        int upTo = piece.size();
        if (paced)
            upTo = int(std::min<qint64>(piece.size(), 1 + (t - job.dueNs) / CharNs));
        if (upTo > job.sent) {
            endpoint->write(piece.mid(job.sent, upTo - job.sent));
            job.sent = upTo;
        }
        if (job.sent < piece.size())
            break;

        const qint64 pieceEnd = paced ? job.dueNs + piece.size() * CharNs : t;
        lineFreeNs = pieceEnd;
        job.sent = 0;
        if (++job.piece < job.pieces.size()) {
            job.dueNs = pieceEnd + job.gapNs;
            continue;
        }
        const Job done = jobs.takeFirst();
        emit replyWritten(done.pieces.join());
    }
    if (jobs.isEmpty())
        timer->stop();
    else if (!timer->isActive())
        timer->start();
}
