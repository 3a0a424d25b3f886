#include "elidinglineedit.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace {

// QLineEdit's own margin between its frame and its text.
constexpr int TextMargin = 2;

}  // namespace

ElidingLineEdit::ElidingLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, [this](const QString &text) { setToolTip(text); });
}

QString ElidingLineEdit::ShownText() const
{
    const int room = contentsRect().width() - 2 * TextMargin;
    return fontMetrics().elidedText(text(), Qt::ElideLeft, room);
}

void ElidingLineEdit::paintEvent(QPaintEvent *event)
{
    const QString shown = ShownText();
    if (hasFocus() || shown == text()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    const QRect room = contentsRect().adjusted(TextMargin, 0, -TextMargin, 0);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter, shown);
}
