#include "noticeboxes.h"

NoticeBoxes::NoticeBoxes(QWidget *window)
    : window(window)
{
}

void NoticeBoxes::Show(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    // The first line says what failed; a second line with the details of
    // the latest failure of that kind replaces the earlier one's.
    const QString kind = text.section(QLatin1Char('\n'), 0, 0);
    const QPointer<QMessageBox> open = shown.value(kind);
    if (open && open->isVisible()) {
        open->setText(text);
        return;
    }
    auto *box = new QMessageBox(icon, title, text, QMessageBox::Ok, window);
    // Not modal: a notice must never stand between the operator and the
    // output switch.
    box->setWindowModality(Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    shown.insert(kind, box);
    // show() returns at once, and unlike open() leaves the box not modal;
    // exec() would hold the tick that failed, and with it every later tick,
    // until the box is closed.
    box->show();
}
