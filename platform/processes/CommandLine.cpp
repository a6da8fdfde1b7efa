#include "platform/processes/CommandLine.h"

#include "platform/core/AsciiCase.h"
#include "platform/core/PathText.h"
#include "platform/drives/Drives.h"
#include "platform/processes/Processes.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The name as written, then the one a Linux package would install: "SCANDSKW.EXE" is
// "scandskw".
std::vector<std::string> nameVariants(const std::string& name)
{
    std::vector<std::string> variants{name};
    std::string lower = lowerAscii(name);
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".exe") == 0)
        lower.resize(lower.size() - 4);
    if (lower != name)
        variants.push_back(lower);
    return variants;
}

// 0 when the path is a regular file we may run; the reason otherwise.
std::uint32_t checkProgram(const std::string& path)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0)
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    if (!S_ISREG(status.st_mode) || ::access(path.c_str(), X_OK) != 0)
        return ERROR_ACCESS_DENIED;
    return 0;
}

} // namespace

std::vector<std::string> splitCommandLine(const std::string& commandLine)
{
    std::vector<std::string> arguments;
    std::size_t i = 0;
    const std::size_t n = commandLine.size();
    while (i < n && isBlank(commandLine[i]))
        ++i;
    if (i == n)
        return arguments;

    std::string program;
    bool quoted = false;
    for (; i < n && (quoted || !isBlank(commandLine[i])); ++i) {
        if (commandLine[i] == '"')
            quoted = !quoted;
        else
            program += commandLine[i];
    }
    arguments.push_back(std::move(program));

    for (;;) {
        while (i < n && isBlank(commandLine[i]))
            ++i;
        if (i == n)
            break;
        std::string argument;
        quoted = false;
        while (i < n && (quoted || !isBlank(commandLine[i]))) {
            std::size_t backslashes = 0;
            while (i < n && commandLine[i] == '\\') {
                ++backslashes;
                ++i;
            }
            if (i < n && commandLine[i] == '"') {
                argument.append(backslashes / 2, '\\');
                if (backslashes % 2 == 1)
                    argument += '"';
                else
                    quoted = !quoted;
                ++i;
            } else {
                argument.append(backslashes, '\\');
                if (i < n && (quoted || !isBlank(commandLine[i])))
                    argument += commandLine[i++];
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::uint32_t findProgram(const std::string& name, const std::string& searchPath,
                          std::string& found)
{
    if (name.empty())
        return ERROR_FILE_NOT_FOUND;
    std::uint32_t error = ERROR_FILE_NOT_FOUND;
    auto tryPath = [&](const std::string& path) {
        const std::uint32_t result = checkProgram(path);
        if (result == 0)
            found = path;
        else if (result == ERROR_ACCESS_DENIED)
            error = ERROR_ACCESS_DENIED;
        return result == 0;
    };

    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) {
        std::string folder = name.substr(0, slash + 1);
        if (hasDriveLetter(folder)) {
            folder = toNativePath(folder);
            if (folder.empty())
                return ERROR_FILE_NOT_FOUND;
            folder += '/';
        } else if (folder[0] != '/') {
            for (char& c : folder)
                if (c == '\\')
                    c = '/';
        }
        for (const std::string& variant : nameVariants(name.substr(slash + 1)))
            if (!variant.empty() && tryPath(folder + variant))
                return 0;
        return error;
    }

    for (const std::string& variant : nameVariants(name)) {
        std::size_t start = 0;
        while (start <= searchPath.size()) {
            std::size_t end = searchPath.find(':', start);
            if (end == std::string::npos)
                end = searchPath.size();
            // A relative entry would find whatever lies in the folder we happen to run in.
            const std::string folder = searchPath.substr(start, end - start);
            if (!folder.empty() && folder[0] == '/' && tryPath(folder + "/" + variant))
                return 0;
            start = end + 1;
        }
    }
    return error;
}

} // namespace platform
