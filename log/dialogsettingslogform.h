#pragma once

#include "ui_dialogsettingslog.h"

class QDialog;

// The widget set of the log options dialog. The pointers are non-owning: the
// widgets, layouts and the button group belong to the dialog.
class DialogSettingsLogForm : public Ui::DialogSettingsLog
{
public:
    // Builds the layout on the dialog, then sets its captions.
    void setup(QDialog *dialog);
};
