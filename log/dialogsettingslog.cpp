#include "dialogsettingslog.h"

#include "dialogsettingslogform.h"

#include <QCloseEvent>
#include <QSettings>

DialogSettingsLog::DialogSettingsLog(QWidget *parent)
    : QDialog(parent), form(std::make_unique<DialogSettingsLogForm>())
{
    form->setup(this);
    FillChoices();
    settings = new QSettings(QStringLiteral("norvel"), QStringLiteral("TK4810M"), this);
    LoadSettings();
}

DialogSettingsLog::~DialogSettingsLog() = default;

void DialogSettingsLog::GetSettings(LogSettings &settings) const
{
    settings.LogValue = form->comboBoxLogValue->currentIndex();
    settings.commeDotLog = form->radioButtonComme->isChecked();
    settings.LogPeriod = form->timeEdit->time();
    settings.TimeForm = form->comboBoxTimeForm->currentIndex();
    settings.AddTime = form->checkBoxAddTime->isChecked();
}

QSettings *DialogSettingsLog::Settings() const
{
    return settings;
}

void DialogSettingsLog::closeEvent(QCloseEvent *event)
{
    // There is no Cancel: closing keeps and stores whatever the widgets show.
    StoreSettings();
    event->accept();
}

void DialogSettingsLog::done(int result)
{
    // Escape rejects without a close event; what the widgets show is kept all
    // the same.
    StoreSettings();
    QDialog::done(result);
}

void DialogSettingsLog::FillChoices()
{
    form->comboBoxLogValue->addItem(tr("Дисплей"), 0);
    form->comboBoxLogValue->addItem(tr("АЦП"), 1);
    form->comboBoxTimeForm->addItem(tr("чч:мм:сс"), 0);
    form->comboBoxTimeForm->addItem(tr("мм:сс"), 1);
    form->comboBoxTimeForm->addItem(tr("ccсс"), 2);
    form->comboBoxTimeForm->addItem(tr("чч:мм:сс OS"), 3);
}

namespace {

// A flag as the store writes it; anything else (say "maybe") is unreadable
// and gives the default, rather than whatever a conversion makes of it.
bool StoredFlag(const QVariant &value)
{
    if (value.type() == QVariant::Bool)
        return value.toBool();
    return value.toString() == QLatin1String("true");
}

// An index of a list of count items, or 0 when out of the list or unreadable.
int StoredIndex(const QVariant &value, int count)
{
    bool ok = false;
    const int index = value.toInt(&ok);
    return ok && index >= 0 && index < count ? index : 0;
}

}  // namespace

void DialogSettingsLog::LoadSettings()
{
    // Each option out of its range or unreadable loads as its default; the
    // store itself is left alone until the dialog is closed.
    if (StoredFlag(settings->value(QStringLiteral("commeDotLog"))))
        form->radioButtonComme->setChecked(true);
    else
        form->radioButtonDot->setChecked(true);
    const QTime period = settings->value(QStringLiteral("LogPeriod")).toTime();
    if (period.isValid() && period >= form->timeEdit->minimumTime()
        && period <= form->timeEdit->maximumTime())
        form->timeEdit->setTime(period);
    form->comboBoxLogValue->setCurrentIndex(
        StoredIndex(settings->value(QStringLiteral("LogValue")), form->comboBoxLogValue->count()));
    form->comboBoxTimeForm->setCurrentIndex(
        StoredIndex(settings->value(QStringLiteral("TimeForm")), form->comboBoxTimeForm->count()));
    form->checkBoxAddTime->setChecked(StoredFlag(settings->value(QStringLiteral("AddTime"))));
}

void DialogSettingsLog::StoreSettings()
{
    settings->setValue(QStringLiteral("commeDotLog"), form->radioButtonComme->isChecked());
    settings->setValue(QStringLiteral("LogPeriod"), form->timeEdit->time());
    settings->setValue(QStringLiteral("LogValue"), form->comboBoxLogValue->currentIndex());
    settings->setValue(QStringLiteral("TimeForm"), form->comboBoxTimeForm->currentIndex());
    settings->setValue(QStringLiteral("AddTime"), form->checkBoxAddTime->isChecked());
}
