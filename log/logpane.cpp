#include "logpane.h"

#include <QString>
#include <QTextCursor>
#include <QTextEdit>

void AppendToPane(QTextEdit *pane, const QString &text)
{
    pane->insertPlainText(text);
    QTextCursor cursor = pane->textCursor();
    cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor);
    pane->setTextCursor(cursor);
}
