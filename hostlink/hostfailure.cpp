#include "hostfailure.h"

QString HostFailure::toString() const
{
    return QStringLiteral("Error %1: %2").arg(number).arg(text);
}
