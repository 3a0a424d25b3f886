#pragma once

#include "mainwindow.h"
#include "supplyoptions.h"
#include "virtualsupply.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QSettings>
#include <QSpinBox>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include <functional>
#include <memory>

// Runs action on the next modal window of type T once it is up; a modal
// dialog runs its own event loop, so the test cannot act after the call.
template <typename T>
void WhenModal(std::function<void(T *)> action)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        auto *window = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!window || !window->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        action(window);
    });
    poll->start();
}

// The message boxes on screen that belong to window (its notices are not
// modal: the window stays usable while one is open).
inline QList<QMessageBox *> VisibleNotices(const QWidget *window)
{
    QList<QMessageBox *> boxes;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(top);
        if (box && box->isVisible() && box->parentWidget() == window)
            boxes << box;
    }
    return boxes;
}

// Closes every message box that opens while it lives, modal or not, and
// remembers which window it belonged to and what it said, so that several
// windows in one process can each be held to their own boxes.
class MessageBoxCloser : public QObject
{
public:
    struct Seen {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        const QWidget *window;
    };

    MessageBoxCloser()
    {
        connect(&poll, &QTimer::timeout, this, [this] {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(top);
                if (!box || !box->isVisible())
                    continue;
                seen.append({box->icon(), box->windowTitle(), box->text(), box->parentWidget()});
                box->done(QMessageBox::Ok);
            }
        });
        poll.start(5);
    }

    QList<Seen> seen;

private:
    QTimer poll;
};

// A main window driven as an operator would: through its tool bar, buttons
// and boxes, against the virtual supply on a pseudo-terminal.
class WindowDriver
{
public:
    // The window remembers the port and address of its last connection;
    // unless asked to keep them, each driver starts from the tool bar's own.
    explicit WindowDriver(VirtualSupply::Options options = {}, bool keepPortChoice = false)
    {
        if (!keepPortChoice) {
            QSettings store(QStringLiteral("norvel"), QStringLiteral("TK4810M"));
            store.remove(QStringLiteral("PortName"));
            store.remove(QStringLiteral("SlaveAddress"));
        }
        supply = std::make_unique<VirtualSupply>(options);
        QString error;
        supplyOpen = supply->open(&error);
        window = std::make_unique<MainWindow>();
        window->show();
    }

    template <typename T>
    T *widget(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QToolBar *toolBar() const { return widget<QToolBar>("mainToolBar"); }
    QComboBox *portBox() const { return toolBar()->findChild<QComboBox *>(); }
    QSpinBox *slaveBox() const { return toolBar()->findChild<QSpinBox *>(); }
    QAction *action(const QString &text) const
    {
        for (QAction *a : window->findChildren<QAction *>()) {
            if (a->text() == text)
                return a;
        }
        return nullptr;
    }
    // The tool bar's first two actions, in either language.
    QAction *connectAction() const { return toolBar()->actions().value(0); }
    QAction *disconnectAction() const { return toolBar()->actions().value(1); }

    void connectToSupply()
    {
        portBox()->setEditText(supply->portPath());
        connectAction()->trigger();
    }

    // Commands (byte 2 of each frame) of the request lines the supply got.
    QList<int> commands() const
    {
        QList<int> result;
        for (const QByteArray &line : supply->receivedLines())
            result.append(QByteArray::fromHex(line.mid(5, 2)).at(0) & 0xFF);
        return result;
    }

    bool supplyOpen = false;
    std::unique_ptr<VirtualSupply> supply;
    std::unique_ptr<MainWindow> window;
};
