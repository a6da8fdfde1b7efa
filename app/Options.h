#pragma once

#include <ostream>
#include <string>
#include <vector>

// What the command line asks for. Parameters that begin with "--" (and "-h") are options;
// every other parameter keeps its old meaning: the unattended start.
struct TCommandLine
{
    enum class Action { Run, Help, Version, Preview, Collections, Undo, Unknown };

    Action action = Action::Run;
    // The parameters that are no options; only their number counts.
    int paramCount = 0;
    // The option that was not understood, for Action::Unknown.
    std::string unknown;
    // The start of the run to put back, as --collections shows it; empty for the newest
    // with files in the trash.
    std::string undoTime;
    // --null: a listing ends each path with NUL instead of a line end.
    bool nul = false;
};

// Reads the parameters (argv without the program name) from left to right; the first
// option other than a plain parameter and --null decides (--undo takes the parameter after it as
// its time when that is no option). --null alone is no request: it is refused as unknown.
TCommandLine parseCommandLine(const std::vector<std::string>& parameters);

// What vorlax and vorlax /a do, the options, and where the settings live.
void printUsage(std::ostream& out);
// "vorlax" and the version of the build.
void printVersion(std::ostream& out);
