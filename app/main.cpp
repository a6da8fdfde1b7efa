#include "app/MainForm.h"
#include "runtime/Application.h"

#include <QApplication>

int main(int argc, char** argv)
{
    // Only the number of parameters counts; read it before the toolkit takes its own.
    const int paramCount = argc - 1;
    runtime::prepareEnvironment();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlax"));
    runtime::startServices();

    int exitCode = 0;
    {
        TForm1 form(paramCount);
        // Nobody can use a window nobody sees: end as "Close" would.
        if (runtime::isHeadless())
            runtime::terminate();
        if (!runtime::terminated())
            form.show();
        exitCode = runtime::run();
    }
    return exitCode;
}
