// Corvane: the program entry.

#include "CorvaneProgram.h"
#include "ErrorReport.h"

#include <QApplication>

int main(int argc, char **argv)
{
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    return runCorvane();
}
