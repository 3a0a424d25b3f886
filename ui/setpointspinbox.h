#pragma once

#include <QDoubleSpinBox>

// A set-point box whose text is either what the operator typed or nothing
// new: a number out of range (or finer than the box's step) stays in the box
// as typed instead of losing the keystroke that broke it, the box says at
// once what it takes, and Enter applies only a text that is a value of the
// box. A comma and a point both serve as the decimal separator.
class SetpointSpinBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit SetpointSpinBox(QWidget *parent = nullptr);

    QValidator::State validate(QString &input, int &pos) const override;
    // What the box takes, in the window's language: range and step.
    QString RangeText() const;
    // Says what the box takes, next to it.
    void ShowRange() const;

signals:
    // Enter on a text that is a value of the box.
    void entered();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
};
