#include "exportfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

QString ExportStartFolder(const QString &stored)
{
    if (stored.isEmpty())
        return QDir::currentPath();
    // A folder that no longer exists would open the dialog elsewhere with its
    // last name taken as the file name.
    QString folder = QDir::cleanPath(stored);
    for (;;) {
        if (QFileInfo(folder).isDir())
            return folder;
        const QString parent = QFileInfo(folder).path();
        if (parent == folder || parent == QLatin1String("."))
            return QDir::homePath();
        folder = parent;
    }
}
