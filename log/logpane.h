#pragma once

class QString;
class QTextEdit;

// Appends text at the end of the document, wherever the operator clicked or
// selected. While the view is at the end and nothing is selected, the cursor
// goes to the end and the view follows the newest line; while the operator has
// scrolled up or selected text, both stay where they are.
void AppendToPane(QTextEdit *pane, const QString &text);
