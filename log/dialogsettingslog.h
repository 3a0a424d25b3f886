#pragma once

#include "logsettings.h"

#include <QDialog>

#include <memory>

class QCloseEvent;
class QSettings;
class DialogSettingsLogForm;

// The log options dialog. It owns the program's settings store: the options
// are read from it once, when the dialog is built, and written back at every
// close event. Dismissing with Escape rejects without a close event and so
// stores nothing, although the widgets keep what the operator changed.
class DialogSettingsLog : public QDialog
{
    Q_OBJECT

public:
    explicit DialogSettingsLog(QWidget *parent = nullptr);
    ~DialogSettingsLog() override;

    // Copies the widgets' current state; touches neither the store nor the
    // widgets, so it is safe to call on every tick while the dialog is open.
    void GetSettings(LogSettings &settings) const;

    // The settings store, also used for keys that are not log options.
    QSettings *Settings() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void FillChoices();
    void LoadSettings();
    void StoreSettings();

    std::unique_ptr<DialogSettingsLogForm> form;
    QSettings *settings = nullptr;
};
