#pragma once

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

// Closes every modal message box that opens while it lives, and remembers
// which window it belonged to and what it said, so that several windows in
// one process can each be held to their own boxes.
class BoxWatcher : public QObject
{
public:
    struct Box {
        const QWidget *window;
        QString text;
    };

    BoxWatcher()
    {
        connect(&poll, &QTimer::timeout, this, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            seen.append({box->parentWidget(), box->text()});
            box->done(QMessageBox::Ok);
        });
        poll.start(5);
    }

    int count(const QWidget *window, const QString &text, int from = 0) const
    {
        int n = 0;
        for (int i = from; i < seen.size(); ++i)
            n += seen.at(i).window == window && seen.at(i).text == text;
        return n;
    }

    QList<Box> seen;

private:
    QTimer poll;
};
