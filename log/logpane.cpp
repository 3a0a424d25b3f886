#include "logpane.h"

#include <QScrollBar>
#include <QString>
#include <QTextCursor>
#include <QTextEdit>

void AppendToPane(QTextEdit *pane, const QString &text)
{
    // The view follows while the end of the text is in sight and nothing is
    // selected: the operator scrolling up or selecting is left alone, and
    // scrolling back down resumes the following.
    QTextCursor end(pane->document());
    end.movePosition(QTextCursor::End, QTextCursor::MoveAnchor);
    const bool following = !pane->textCursor().hasSelection()
                           && pane->viewport()->rect().intersects(pane->cursorRect(end));
    QScrollBar *bar = pane->verticalScrollBar();
    const int scrolled = bar->value();
    // Inserting at the pane's own cursor would split a recorded line where the
    // operator clicked, or replace what they selected.
    end.insertText(text);
    if (following) {
        QTextCursor cursor = pane->textCursor();
        cursor.movePosition(QTextCursor::End, QTextCursor::MoveAnchor);
        pane->setTextCursor(cursor);
    } else {
        bar->setValue(scrolled);
    }
}
