#include "ErrorReport.h"

#include <QMainWindow>

int main(int argc, char **argv)
{
    GuardedApplication app(argc, argv);
    QMainWindow window;
    window.show();
    return app.exec();
}
