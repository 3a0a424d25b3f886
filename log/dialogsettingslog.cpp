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

void DialogSettingsLog::FillChoices()
{
    // The reading names are fixed; the stamp forms go through translation.
    form->comboBoxLogValue->addItem(QStringLiteral("Дисплей"), 0);
    form->comboBoxLogValue->addItem(QStringLiteral("АЦП"), 1);
    form->comboBoxTimeForm->addItem(tr("чч:мм:сс"), 0);
    form->comboBoxTimeForm->addItem(tr("мм:сс"), 1);
    form->comboBoxTimeForm->addItem(tr("ccсс"), 2);
    form->comboBoxTimeForm->addItem(tr("чч:мм:сс OS"), 3);
}

void DialogSettingsLog::LoadSettings()
{
    // Absent or unreadable values convert to false, 0 and an invalid time;
    // setTime ignores an invalid time, so the layout's period then stays.
    if (settings->value(QStringLiteral("commeDotLog")).toBool())
        form->radioButtonComme->setChecked(true);
    else
        form->radioButtonDot->setChecked(true);
    form->timeEdit->setTime(settings->value(QStringLiteral("LogPeriod")).toTime());
    form->comboBoxLogValue->setCurrentIndex(settings->value(QStringLiteral("LogValue")).toInt());
    form->comboBoxTimeForm->setCurrentIndex(settings->value(QStringLiteral("TimeForm")).toInt());
    form->checkBoxAddTime->setChecked(settings->value(QStringLiteral("AddTime")).toBool());
}

void DialogSettingsLog::StoreSettings()
{
    settings->setValue(QStringLiteral("commeDotLog"), form->radioButtonComme->isChecked());
    settings->setValue(QStringLiteral("LogPeriod"), form->timeEdit->time());
    settings->setValue(QStringLiteral("LogValue"), form->comboBoxLogValue->currentIndex());
    settings->setValue(QStringLiteral("TimeForm"), form->comboBoxTimeForm->currentIndex());
    settings->setValue(QStringLiteral("AddTime"), form->checkBoxAddTime->isChecked());
}
