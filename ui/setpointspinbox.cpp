#include "setpointspinbox.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRegularExpression>
#include <QToolTip>

#include <cmath>

SetpointSpinBox::SetpointSpinBox(QWidget *parent)
    : QDoubleSpinBox(parent)
{
}

QValidator::State SetpointSpinBox::validate(QString &input, int &pos) const
{
    // The other separator is taken for the locale's own.
    const QChar point = locale().decimalPoint();
    const QChar other = point == QLatin1Char('.') ? QLatin1Char(',') : QLatin1Char('.');
    input.replace(other, point);
    const QValidator::State state = QDoubleSpinBox::validate(input, pos);
    if (state != QValidator::Invalid)
        return state;
    QString number = input;
    if (number.endsWith(suffix()))
        number.chop(suffix().size());
    number = number.trimmed();
    // A number the box cannot hold stays as typed, not cut to one it can.
    static const QRegularExpression numeric(QStringLiteral("^[-+]?\\d*([.,]\\d*)?$"));
    const bool typedNumber = !number.isEmpty() && numeric.match(number).hasMatch();
    if (hasFocus() || typedNumber)
        ShowRange();
    return typedNumber ? QValidator::Intermediate : QValidator::Invalid;
}

QString SetpointSpinBox::RangeText() const
{
    return tr("Допустимо от %1 до %2%4, шаг %3")
        .arg(textFromValue(minimum()), textFromValue(maximum()), textFromValue(singleStep()), suffix());
}

void SetpointSpinBox::ShowRange() const
{
    QToolTip::showText(mapToGlobal(QPoint(0, height())), RangeText(), const_cast<SetpointSpinBox *>(this));
}

void SetpointSpinBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) {
        QDoubleSpinBox::keyPressEvent(event);
        return;
    }
    // The toolkit would put the last value back and report Enter: the
    // operator would apply a number other than the one typed.
    event->accept();
    if (!hasAcceptableInput()) {
        ShowRange();
        return;
    }
    QDoubleSpinBox::keyPressEvent(event);
    emit entered();
}

void SetpointSpinBox::focusOutEvent(QFocusEvent *event)
{
    // A text out of range stays as typed: Apply then refuses it rather than
    // send the value the box held before.
    if (!hasAcceptableInput()) {
        QCoreApplication::sendEvent(lineEdit(), event);
        QWidget::focusOutEvent(event);
        return;
    }
    QDoubleSpinBox::focusOutEvent(event);
}
