#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>

class PtyEndpoint;
class QTimer;

// Puts replies on the line at their time. A reply is a list of pieces: the
// first goes out after a delay, each further one a gap after the previous
// piece has gone. Replies never interleave: the line carries one at a time.
//
// Unpaced, a piece is written whole the moment it is due (at once when there
// is no delay). Paced, characters leave one per 1.0417 ms as on a 9600-baud
// line: a 1 ms timer writes however many characters are due by the clock.
class ReplyScheduler : public QObject
{
    Q_OBJECT

public:
    explicit ReplyScheduler(PtyEndpoint *endpoint, QObject *parent = nullptr);

    void setPaced(bool paced) { this->paced = paced; }
    bool isPaced() const { return paced; }

    void schedule(const QList<QByteArray> &pieces, int delayMs, int gapMs);
    void clear();
    bool isIdle() const { return jobs.isEmpty(); }

    // One character at 9600 baud, 8N1: ten bits.
    static constexpr qint64 CharNs = 1041667;

signals:
    // The last character of a reply has been handed to the line.
    void replyWritten(const QByteArray &text);

private slots:
    void pump();

private:
    struct Job {
        QList<QByteArray> pieces;
        qint64 gapNs = 0;
        qint64 dueNs = 0;  // when the current piece starts
        int piece = 0;
        int sent = 0;      // characters of the current piece already written
        bool started() const { return piece > 0 || sent > 0; }
    };

    qint64 now() const { return clock.nsecsElapsed(); }

    PtyEndpoint *endpoint;
    QTimer *timer;
    QElapsedTimer clock;
    QList<Job> jobs;
    bool paced = false;
    qint64 lineFreeNs = 0;
};
