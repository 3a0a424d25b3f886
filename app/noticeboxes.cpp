#include "noticeboxes.h"

NoticeBoxes::NoticeBoxes(QWidget *window)
    : window(window)
{
}

void NoticeBoxes::Show(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    const QPointer<QMessageBox> open = shown.value(text);
    if (open && open->isVisible())
        return;
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, window);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    shown.insert(text, box);
    // open() returns at once; exec() would hold the tick that failed, and with
    // it every later tick, until the box is closed.
    box->open();
}
