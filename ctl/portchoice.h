#pragma once

#include <QString>

// Which port to use: the one given, else $VELKARO_PORT, else the only serial
// port the system lists. Empty, with the reason in error, when none or several
// are found.
QString ChoosePortPath(const QString &given, QString *error);
