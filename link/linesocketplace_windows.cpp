#include "linesocketplace.h"

QString LineSocketPlace(const QString &name)
{
    return name;
}
