#include "pagewindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Room for a title bar and borders before the window manager has told them.
const QSize AssumedFrame(16, 48);

}  // namespace

QRect FitToScreen(QSize wanted, QSize frame, const QRect &available, QPoint centre)
{
    const QSize room = (available.size() - frame).expandedTo(QSize(1, 1));
    const QSize size = wanted.boundedTo(room);
    // The frame, with the window in it, wholly inside the area.
    QRect outer(QPoint(), size + frame);
    outer.moveCenter(centre);
    outer.moveLeft(std::clamp(outer.left(), available.left(), available.right() + 1 - outer.width()));
    outer.moveTop(std::clamp(outer.top(), available.top(), available.bottom() + 1 - outer.height()));
    // Side borders alike; the rest of the height is the title bar.
    const int border = frame.width() / 2;
    return QRect(outer.topLeft() + QPoint(border, frame.height() - border), size);
}

PageWindow::PageWindow(QWidget *page, const QString &title, QSettings *settings, const QString &settingsKey,
                       QSize preferred, QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Window), settings(settings), settingsKey(settingsKey), preferred(preferred)
{
    setWindowTitle(title);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(page);
    page->show();
}

void PageWindow::Open()
{
    if (!placed) {
        // The screen the main window is on, or the first.
        const QWidget *main = parentWidget();
        QScreen *screen = main && main->screen() ? main->screen() : QGuiApplication::primaryScreen();
        const QRect available = screen->availableGeometry();
        const QSize stored = settings->value(settingsKey).toSize();
        const QSize wanted = (stored.isValid() ? stored : preferred).expandedTo(minimumSizeHint());
        const QPoint centre = main ? main->frameGeometry().center() : available.center();
        // Shown once before it is placed, the frame is known.
        const QSize frame = isVisible() ? frameGeometry().size() - size() : AssumedFrame;
        setGeometry(FitToScreen(wanted, frame, available, centre));
        placed = true;
    }
    show();
    raise();
    activateWindow();
}

void PageWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (placed)
        settings->setValue(settingsKey, size());
}
