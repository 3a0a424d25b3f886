#pragma once

#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QString>

class QWidget;

// The window's failure boxes, shown without waiting for the operator: the poll,
// the chart and the log go on while one is open. A box whose text is already
// on screen is not shown a second time.
class NoticeBoxes
{
public:
    explicit NoticeBoxes(QWidget *window);

    void Show(QMessageBox::Icon icon, const QString &title, const QString &text);

private:
    QWidget *window;
    QHash<QString, QPointer<QMessageBox>> shown;
};
