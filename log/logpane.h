#pragma once

class QString;
class QTextEdit;

// Inserts text at the pane's cursor, then puts the cursor at the end of the
// document so that the following lines accumulate there and the view
// follows the newest one.
void AppendToPane(QTextEdit *pane, const QString &text);
