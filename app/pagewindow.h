#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

class QSettings;

// Where a window of wanted size goes on a screen whose free area is
// available: as large as wanted but no larger than the area less the frame
// that a window manager adds (frame: borders and title bar together), centred
// on centre, frame and all inside the area. The result is the window's own
// rectangle, without the frame.
QRect FitToScreen(QSize wanted, QSize frame, const QRect &available, QPoint centre);

// A page of the main window shown in a window of its own: it opens within the
// free area of the main window's screen and keeps its size in the settings
// store for the next time. It is the main window's child, so it closes with it.
class PageWindow : public QWidget
{
    Q_OBJECT

public:
    // settingsKey names the stored size; preferred is the size of a first
    // opening.
    PageWindow(QWidget *page, const QString &title, QSettings *settings, const QString &settingsKey,
               QSize preferred, QWidget *mainWindow);

public slots:
    void Open();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QSettings *settings;
    QString settingsKey;
    QSize preferred;
    bool placed = false;
};
