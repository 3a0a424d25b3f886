#include "savefiledialog.h"

#include <QRegularExpression>

namespace {

// "Text (*.txt *.log)" gives "txt"; a filter without a plain suffix gives none.
QString SuffixOf(const QString &filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    return pattern.match(filter).captured(1);
}

}  // namespace

QString ChooseSaveFile(QWidget *parent, const QString &title, const QString &start,
                       const QStringList &filters, QString *chosenFilter, QFileDialog::Options options)
{
    QFileDialog dialog(parent, title, start);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setOptions(options);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(SuffixOf(filters.value(0)));
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString &filter) { dialog.setDefaultSuffix(SuffixOf(filter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    if (chosenFilter)
        *chosenFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().constFirst();
}
