#include "logpane.h"

#include <QString>
#include <QTextCursor>
#include <QTextEdit>

void AppendToPane(QTextEdit *pane, const QString &text)
{
    // Inserting at the pane's own cursor would split a recorded line where the
    // operator clicked, or replace what they selected.
    QTextCursor cursor = pane->textCursor();
    cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor);
    cursor.insertText(text);
    pane->setTextCursor(cursor);
}
