#include "support/ProgramRun.h"

#include <QProcess>

namespace test {

QProcessEnvironment programEnvironment(bool withDisplay)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (!withDisplay)
        env.remove(QStringLiteral("DISPLAY"));
    return env;
}

Outcome runCommand(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Outcome outcome;
    outcome.finished = process.waitForFinished(timeoutMs);
    if (!outcome.finished) {
        process.kill();
        process.waitForFinished();
    }
    outcome.exitCode = process.exitCode();
    outcome.errors = process.readAllStandardError().toStdString();
    outcome.output = process.readAllStandardOutput().toStdString();
    return outcome;
}

Outcome runProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                   int timeoutMs)
{
    return runCommand(QStringLiteral(VORLAX_BINARY), arguments, environment, timeoutMs);
}

} // namespace test
