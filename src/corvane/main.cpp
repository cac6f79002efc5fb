// Corvane: the program entry.

#include "CorvaneProgram.h"
#include "ErrorReport.h"
#include "SafeFile.h"

#include <QApplication>

int main(int argc, char **argv)
{
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    SafeFile::failOversizeWrites();
    return runCorvane();
}
