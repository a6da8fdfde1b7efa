#pragma once

#include <string>
#include <vector>

namespace bench {

// One run of an outside tool with its standard output counted in lines.
struct ToolRun
{
    bool started = false;
    bool succeeded = false; // exited with status 0
    double wallSeconds = 0;
    double cpuSeconds = 0;  // the tool's own user and system time
    long maxResidentKb = 0; // the tool's peak resident memory
    int lines = 0;
    std::string output; // what it wrote to standard output
};

ToolRun runTool(std::vector<std::string> args);

} // namespace bench
