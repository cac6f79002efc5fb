#pragma once

#include "KxDialog.h"

#include <QString>

// A password as the program keeps it: scrambled.
inline QString scrambled(const QString &password)
{
    QString result;
    ScramblePassword(password, result);
    return result;
}
