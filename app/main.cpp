#include "app/CollectionCommands.h"
#include "app/CollectionPreview.h"
#include "app/MainForm.h"
#include "app/Options.h"
#include "runtime/Application.h"
#include "runtime/MessageBoxes.h"
#include "widgets/RecycleBinPicture.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Decided before the toolkit or any service starts, so that asking for the usage or the
    // version reads, creates and writes nothing, and starts no collection.
    const TCommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
    case TCommandLine::Action::Help:
        printUsage(std::cout);
        return 0;
    case TCommandLine::Action::Version:
        printVersion(std::cout);
        return 0;
    case TCommandLine::Action::Collections:
        printCollections(std::cout);
        return 0;
    case TCommandLine::Action::Undo: {
        const UndoReport report = undoCollectionAt(line.undoTime);
        std::cout << report.text;
        return report.status;
    }
    case TCommandLine::Action::Preview:
        // No toolkit, no window and no service that could write: a listing only reads.
        std::ios::sync_with_stdio(false);
        return runPreview(line.nul, std::cout, std::cerr);
    case TCommandLine::Action::Unknown:
        std::cerr << "vorlax: unknown option " << line.unknown << "\n";
        printUsage(std::cerr);
        return 2;
    case TCommandLine::Action::Run:
        break;
    }
    // Only the number of parameters counts; read it before the toolkit takes its own.
    const int paramCount = line.paramCount;
    runtime::prepareEnvironment();
    QApplication application(argc, argv);
    runtime::restoreEnvironment();
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
