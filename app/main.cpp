#include "app/MainForm.h"
#include "runtime/Application.h"
#include "runtime/MessageBoxes.h"
#include "widgets/RecycleBinPicture.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>

int main(int argc, char** argv)
{
    // Only the number of parameters counts; read it before the toolkit takes its own.
    const int paramCount = argc - 1;
    runtime::prepareEnvironment();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vorlax"));
    // The desktop matches the running window to its menu entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("vorlax"));
    QIcon icon;
    for (int size : {16, 32, 48, 128})
        icon.addPixmap(QPixmap::fromImage(programIcon(size)));
    QApplication::setWindowIcon(icon);
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
    // So cron and systemd can tell: an error box nobody saw (the settings file, the
    // registration, a date, a mask) fails the run; warnings do not.
    if (exitCode == 0 && runtime::isHeadless() && runtime::errorShown())
        exitCode = 1;
    return exitCode;
}
