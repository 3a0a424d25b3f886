#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The supply's end of a pseudo-terminal. The other end (the slave, /dev/pts/N)
// is what a client opens as its serial port.
//
// The master is read through a socket notifier and written without blocking:
// what the kernel does not take at once is kept and flushed when the master
// becomes writable again. One slave descriptor stays open in this process, so
// that reading the master does not fail with EIO whenever the client closes
// its side.
class PtyEndpoint : public QObject
{
    Q_OBJECT

public:
    explicit PtyEndpoint(QObject *parent = nullptr);
    ~PtyEndpoint() override;

    bool open(QString *error);
    bool isOpen() const { return masterFd >= 0; }
    QString slavePath() const { return slaveName; }

    // A symbolic link at path that points to the slave; replaces an existing
    // link there (never a regular file) and is removed again on destruction.
    bool makeLink(const QString &path, QString *error);

    // Queues bytes for the client; returns false when the master is closed.
    bool write(const QByteArray &bytes);
    int pendingBytes() const { return pending.size(); }

    // The supply's side vanishes: the client's next read or write fails.
    void closeMaster();

signals:
    void received(const QByteArray &bytes);

private slots:
    void readMaster();
    void flushPending();

private:
    void removeLink();

    int masterFd = -1;
    int slaveFd = -1;
    QString slaveName;
    QString linkPath;
    QByteArray pending;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
};
