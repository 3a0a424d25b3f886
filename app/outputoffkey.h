#pragma once

#include <QKeySequence>
#include <QObject>

class QAction;
class QWidget;

// The output-off key over every window and dialog of the program: an
// application shortcut stops at a modal dialog (the About box, a file
// dialog, a question), so the key is taken from the application's events
// before any widget sees it. Keys that reach a window of another main window
// are left to that one.
class OutputOffKey : public QObject
{
    Q_OBJECT

public:
    // Triggers action (when enabled) for Key within window and the windows
    // and dialogs it owns.
    OutputOffKey(QWidget *window, QAction *action);
    ~OutputOffKey() override;

    static constexpr int Key = Qt::Key_F12;
    static QKeySequence Sequence() { return QKeySequence(Key); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool Owns(QObject *target) const;

    QWidget *window;
    QAction *action;
};
