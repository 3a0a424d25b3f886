#pragma once

// Finds the captions that a widget cannot show whole: text measured with the
// widget's own font against the room its contents rectangle leaves for it.

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTextDocument>
#include <QTabBar>
#include <QToolButton>
#include <QWidget>

#include <algorithm>

namespace captionfit {

inline QString Name(const QWidget *w)
{
    QString name = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                             : w->objectName();
    if (const QWidget *p = w->parentWidget())
        name = (p->objectName().isEmpty() ? QString::fromLatin1(p->metaObject()->className())
                                          : p->objectName())
               + QLatin1Char('/') + name;
    return name;
}

// The widest line of text in the font of w.
inline int TextWidth(const QWidget *w, const QString &text)
{
    const QFontMetrics metrics(w->font());
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line));
    return widest;
}

inline void Check(QStringList *found, const QWidget *w, const QString &text, int needed, int room)
{
    if (needed > room)
        *found << QStringLiteral("%1: \"%2\" needs %3 px, has %4").arg(Name(w), text).arg(needed).arg(room);
}

// Every shown widget of top whose caption does not fit.
inline QStringList Clipped(QWidget *top)
{
    QStringList found;
    QList<QWidget *> widgets{top};
    widgets << top->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        if (!w->isVisible() || w->window() != top->window())
            continue;
        const QRect room = w->contentsRect();
        QStyle *style = w->style();
        if (auto *label = qobject_cast<QLabel *>(w)) {
            if (label->text().isEmpty() || label->textFormat() == Qt::RichText
                || (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text())))
                continue;
            const int margins = 2 * (label->margin() + std::max(0, label->indent()));
            if (label->wordWrap()) {
                const int height = label->heightForWidth(label->width());
                Check(&found, w, label->text() + QStringLiteral(" (height)"), height, label->height());
            } else {
                Check(&found, w, label->text(), TextWidth(w, label->text()) + margins, room.width());
                const int lines = label->text().count(QLatin1Char('\n')) + 1;
                Check(&found, w, label->text() + QStringLiteral(" (height)"),
                      lines * QFontMetrics(w->font()).height(), room.height());
            }
        } else if (auto *button = qobject_cast<QPushButton *>(w)) {
            if (button->text().isEmpty())
                continue;
            QStyleOptionButton option;
            option.initFrom(button);
            const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
            const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
            const int menu = button->menu() ? style->pixelMetric(QStyle::PM_MenuButtonIndicator, &option, button) : 0;
            Check(&found, w, button->text(), TextWidth(w, button->text().remove(QLatin1Char('&'))) + margin + icon + menu,
                  room.width());
        } else if (auto *tool = qobject_cast<QToolButton *>(w)) {
            if (tool->objectName() == QLatin1String("qt_toolbar_ext_button"))
                found << Name(w) + QStringLiteral(": the tool bar hides some of its items");
            if (tool->toolButtonStyle() == Qt::ToolButtonIconOnly || tool->text().isEmpty()
                || tool->objectName() == QLatin1String("qt_toolbar_ext_button"))
                continue;
            Check(&found, w, tool->text(), TextWidth(w, tool->text().remove(QLatin1Char('&'))) + 4, room.width());
        } else if (auto *box = qobject_cast<QCheckBox *>(w)) {
            const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w)
                                  + style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w);
            Check(&found, w, box->text(), TextWidth(w, box->text()) + indicator, room.width());
        } else if (auto *radio = qobject_cast<QRadioButton *>(w)) {
            const int indicator = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, w)
                                  + style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, w);
            Check(&found, w, radio->text(), TextWidth(w, radio->text()) + indicator, room.width());
        } else if (auto *group = qobject_cast<QGroupBox *>(w)) {
            Check(&found, w, group->title(), TextWidth(w, group->title()), room.width());
        } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
            if (combo->isEditable())
                continue;  // its line edit is checked below
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = false;
            const QRect field = style->subControlRect(QStyle::CC_ComboBox, &option,
                                                      QStyle::SC_ComboBoxEditField, combo);
            Check(&found, w, combo->currentText(), TextWidth(w, combo->currentText()), field.width());
        } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
            // A spin box's or an editable combo box's field; a plain line edit
            // scrolls what is typed into it, as every text field does.
            auto *spin = qobject_cast<QAbstractSpinBox *>(edit->parentWidget());
            auto *combo = qobject_cast<QComboBox *>(edit->parentWidget());
            if (!spin && !combo)
                continue;
            // QLineEdit keeps a margin of 2 px on either side of its text.
            const int room = edit->contentsRect().width() - 4;
            if (combo && edit->toolTip() == edit->text())
                continue;  // cut on purpose; the tool tip holds it whole
            Check(&found, w, edit->text(), TextWidth(edit, edit->text()), room);
        } else if (auto *bar = qobject_cast<QTabBar *>(w)) {
            for (int i = 0; i < bar->count(); ++i) {
                const QRect tab = bar->tabRect(i);
                Check(&found, w, bar->tabText(i), TextWidth(w, bar->tabText(i)), tab.width() - 8);
                Check(&found, w, bar->tabText(i) + QStringLiteral(" (place)"), tab.right(), bar->width() - 1);
            }
        }
    }
    return found;
}

}  // namespace captionfit
