#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

class QWidget;

// Asks for a file to save. A name typed without a suffix gets the one of the
// chosen filter ("*.txt" gives ".txt"; a filter of "*" adds none) before the
// dialog checks whether the file exists, so an existing file is never
// replaced without the question. Returns the path, or an empty string when
// cancelled; the chosen filter goes to *chosenFilter.
QString ChooseSaveFile(QWidget *parent, const QString &title, const QString &start,
                       const QStringList &filters, QString *chosenFilter = nullptr,
                       QFileDialog::Options options = {});
