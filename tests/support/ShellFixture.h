#pragma once

#include "platform/core/Service.h"
#include "platform/shell/Shell.h"
#include "support/Sandbox.h"
#include "support/ScopedFake.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace test {

// Records every question and error report of the shell and answers questions as told.
class RecordingShellDialogs : public platform::ShellDialogs
{
public:
    using Interface = platform::ShellDialogs;
    struct Shown
    {
        std::string title;
        std::string text;
    };

    bool confirm(platform::HWND, const std::string& title, const std::string& text) override
    {
        questions.push_back({title, text});
        return answer;
    }
    void reportError(platform::HWND, const std::string& title, const std::string& text) override
    {
        errors.push_back({title, text});
    }

    bool answer = true;
    std::vector<Shown> questions;
    std::vector<Shown> errors;
};

// A sandbox with drive C: and the shell's dialogs recorded.
class ShellFixture : public ::testing::Test
{
protected:
    // Runs one request; the result of SHFileOperationA.
    int request(unsigned function, const std::string& from, std::uint16_t flags,
                const std::string& to = {})
    {
        platform::SHFILEOPSTRUCTA operation;
        operation.wFunc = function;
        operation.pFrom = from + std::string(2, '\0');
        operation.pTo = to + std::string(2, '\0');
        operation.fFlags = flags;
        const int result = platform::SHFileOperationA(operation);
        aborted = operation.fAnyOperationsAborted;
        return result;
    }

    std::string c(const std::string& relative) const { return sandbox.driveC() + "/" + relative; }
    std::string homeTrash() const { return sandbox.dataHome() + "/Trash"; }

    Sandbox sandbox;
    ScopedFake<RecordingShellDialogs> dialogs;
    bool aborted = false;
};

} // namespace test
