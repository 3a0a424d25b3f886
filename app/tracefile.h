#pragma once

#include <QFile>
#include <QIODevice>
#include <QString>

// The link's trace in a file of bounded size: when a write would take the
// file past its limit, the file becomes path.1 (the one before it goes) and
// a new file is begun. The trace thus holds at most about twice the limit,
// however long the program runs.
class TraceFile : public QIODevice
{
public:
    static constexpr qint64 DefaultLimit = 10 * 1024 * 1024;

    TraceFile(const QString &path, qint64 limit);
    // Opens (appends to) the file; false with the system's reason.
    bool Start(QString *reason);
    QString OldPath() const { return file.fileName() + QStringLiteral(".1"); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 length) override;

private:
    bool Rotate();

    QFile file;
    qint64 limit;
};
