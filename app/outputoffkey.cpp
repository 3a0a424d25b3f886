#include "outputoffkey.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

OutputOffKey::OutputOffKey(QWidget *window, QAction *action)
    : QObject(window)
    , window(window)
    , action(action)
{
    qApp->installEventFilter(this);
}

OutputOffKey::~OutputOffKey()
{
    qApp->removeEventFilter(this);
}

bool OutputOffKey::Owns(QObject *target) const
{
    // Up the widgets' parents, across windows: a dialog or page window is
    // the main window's child.
    for (QObject *o = target; o; o = o->parent()) {
        if (o == window)
            return true;
    }
    return false;
}

bool OutputOffKey::eventFilter(QObject *watched, QEvent *event)
{
    // A shortcut is looked for first (ShortcutOverride), then the key is
    // delivered; taking the override as well keeps a focused widget from
    // claiming the key for itself.
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Key || key->modifiers() != Qt::NoModifier || !watched->isWidgetType() || !Owns(watched))
        return false;
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (!key->isAutoRepeat() && action->isEnabled())
        action->trigger();
    return true;
}
