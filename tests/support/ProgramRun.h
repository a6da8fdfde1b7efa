#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <string>

namespace test {

struct Outcome
{
    int exitCode = -1;
    bool finished = false;
    std::string errors;
    std::string output;
};

// The environment of the built program as a user would start it in the test's sandbox:
// no toolkit platform chosen, and no display unless asked for.
QProcessEnvironment programEnvironment(bool withDisplay);

// Starts the built program without waiting for it.
void startProgram(QProcess& process, const QStringList& arguments,
                  const QProcessEnvironment& environment);
// Runs a program to its end (killed after timeoutMs) in the folder given, or this one, with
// input as its standard input; one that crashed has the exit code -1.
Outcome runCommand(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, int timeoutMs = 30000,
                   const std::string& folder = {}, const QByteArray& input = {});
// The same for the built program.
Outcome runProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                   int timeoutMs = 30000);

} // namespace test
