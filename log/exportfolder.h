#pragma once

class QString;

// The folder in which the save dialog opens, from the stored folder of the
// last export: the current directory when none is stored; the stored folder
// or, when it is gone, its nearest existing parent; the home directory when
// no part of it exists.
QString ExportStartFolder(const QString &stored);
