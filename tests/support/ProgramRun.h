#pragma once

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

// Runs a program to its end (killed after timeoutMs).
Outcome runCommand(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, int timeoutMs = 30000);
// The same for the built program.
Outcome runProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                   int timeoutMs = 30000);

} // namespace test
