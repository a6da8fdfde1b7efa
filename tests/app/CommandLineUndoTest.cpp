#include "app/Options.h"

#include <gtest/gtest.h>

TEST(CommandLineUndoTest, UndoTakesTheTimeAfterItAndOtherOptionsStayRefused)
{
    const struct
    {
        std::vector<std::string> parameters;
        TCommandLine::Action action;
        std::string time;
    } cases[] = {
        {{"--undo"}, TCommandLine::Action::Undo, ""},
        {{"--undo", "2026-12-08T21:30:05"}, TCommandLine::Action::Undo, "2026-12-08T21:30:05"},
        {{"--undo", "--help"}, TCommandLine::Action::Undo, ""},
        {{"--collections"}, TCommandLine::Action::Collections, ""},
        {{"--undone"}, TCommandLine::Action::Unknown, ""},
    };
    for (const auto& c : cases) {
        const TCommandLine line = parseCommandLine(c.parameters);
        EXPECT_EQ(line.action, c.action) << c.parameters[0];
        EXPECT_EQ(line.undoTime, c.time) << c.parameters[0];
    }
}
