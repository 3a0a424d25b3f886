#pragma once

#include "logsettings.h"

#include <QDialog>

#include <memory>

class QCloseEvent;
class QSettings;
class DialogSettingsLogForm;

// The log options dialog. It owns the program's settings store: the options
// are read from it once, when the dialog is built, and written back whenever
// the dialog is dismissed, by its close button or by Escape alike, since the
// widgets act on the log either way.
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

    void done(int result) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void FillChoices();
    void LoadSettings();
    void StoreSettings();

    std::unique_ptr<DialogSettingsLogForm> form;
    QSettings *settings = nullptr;
};
