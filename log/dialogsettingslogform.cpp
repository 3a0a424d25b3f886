#include "dialogsettingslogform.h"

void DialogSettingsLogForm::setup(QDialog *dialog)
{
    setupUi(dialog);
}
