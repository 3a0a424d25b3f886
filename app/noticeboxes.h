#pragma once

#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QString>

class QWidget;

// The window's failure boxes, shown without waiting for the operator: the poll,
// the chart and the log go on while one is open, and the window stays usable
// (the output switch above all). A text's first line names the kind of
// failure: while a box of that kind is open, no second one is shown, and the
// open one shows the latest failure's details.
class NoticeBoxes
{
public:
    explicit NoticeBoxes(QWidget *window);

    void Show(QMessageBox::Icon icon, const QString &title, const QString &text);

private:
    QWidget *window;
    QHash<QString, QPointer<QMessageBox>> shown;
};
