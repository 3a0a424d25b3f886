// The window's export slot: saves the log pane as a text file.

#include "mainwindow.h"

#include "dialogsettingslog.h"
#include "exportfolder.h"
#include "logclock.h"
#include "logexport.h"
#include "mainwindowform.h"
#include "savefiledialog.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <QTextEdit>

void MainWindow::SaveAsFile()
{
    SaveLog();
}

bool MainWindow::SaveLog()
{
    QSettings *settings = settingsDialog->Settings();
    const QString startDir =
        ExportStartFolder(settings->value(QStringLiteral("dirLogFile")).toString());
    const QString fileName =
        ChooseSaveFile(this, tr("Save File"), startDir, {tr("Текстовый файл (*.txt)")});
    if (fileName.isEmpty())
        return false;

    // Remembered before the attempt, so the next dialog opens here even when
    // this save fails.
    settings->setValue(QStringLiteral("dirLogFile"), QFileInfo(fileName).path());

    // Plain text keeps the pane's line feeds; the file is written in binary
    // mode so that they stay single line feeds.
    const QByteArray bytes = form->textEditLog->toPlainText().toLocal8Bit();
    if (!SaveLogFile(fileName, bytes)) {
        QMessageBox::warning(this, tr("Ошибка"), tr("Не удается сохранить файл"));
        return false;
    }
    logClock->NoteSaved();
    return true;
}
