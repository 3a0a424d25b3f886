#pragma once

#include <QString>

// A finite decimal number typed with a decimal point or a decimal comma.
bool ParseDecimal(const QString &text, double *value);
