#pragma once

#include <QLineEdit>

// A line edit for a path in a narrow place: while it has no focus, a text too
// long for it is shown with its start left out ("…ttyUSB0"), and its tool
// tip holds it whole. Typing into it shows and edits the whole text.
class ElidingLineEdit : public QLineEdit
{
public:
    explicit ElidingLineEdit(QWidget *parent = nullptr);

    // The text as it is drawn while the field has no focus.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
