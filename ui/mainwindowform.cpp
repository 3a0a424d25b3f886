#include "mainwindowform.h"

#include <QMainWindow>

void MainWindowForm::setup(QMainWindow *window)
{
    // The generated build ends with the text pass and then selects page 0.
    setupUi(window);
}

void MainWindowForm::retranslate(QMainWindow *window)
{
    retranslateUi(window);
}
