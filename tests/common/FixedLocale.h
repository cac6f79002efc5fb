#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <ctime>

// The locale and time zone of a test whose expected texts hold the EDL title's date and time:
// the machine's own would otherwise decide them. The program writes the system locale's short
// date and long time; under "en_GB" in UTC the moment 23 November 2008 14:30:05 is written
// "23/11/2008  14:30:05 UTC".
//
// Include this header in the test's one source file: the environment is set before main(), so
// before Qt first reads the system locale, and programs the test starts inherit it.
static void applyFixedLocale()
{
    qputenv("LC_ALL", QByteArray("en_GB.UTF-8"));
    qputenv("TZ", QByteArray("UTC"));
    tzset();
}

Q_CONSTRUCTOR_FUNCTION(applyFixedLocale)
