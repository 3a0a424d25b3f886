#pragma once

class QString;
class QTextEdit;

// Appends text at the end of the document, wherever the operator clicked or
// selected, and puts the cursor there so that the view follows the newest
// line.
void AppendToPane(QTextEdit *pane, const QString &text);
