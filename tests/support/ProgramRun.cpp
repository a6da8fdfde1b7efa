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
                   const QProcessEnvironment& environment, int timeoutMs, const std::string& folder,
                   const QByteArray& input)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!folder.empty())
        process.setWorkingDirectory(QString::fromStdString(folder));
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    Outcome outcome;
    outcome.finished = process.waitForFinished(timeoutMs);
    if (!outcome.finished) {
        process.kill();
        process.waitForFinished();
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.errors = process.readAllStandardError().toStdString();
    outcome.output = process.readAllStandardOutput().toStdString();
    return outcome;
}

void startProgram(QProcess& process, const QStringList& arguments,
                  const QProcessEnvironment& environment)
{
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(VORLAX_BINARY), arguments);
}

Outcome runProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                   int timeoutMs)
{
    return runCommand(QStringLiteral(VORLAX_BINARY), arguments, environment, timeoutMs);
}

} // namespace test
