#include "app/Options.h"

#include <algorithm>
#include <string_view>

namespace {

struct OptionRow
{
    std::string_view longName;
    std::string_view shortName; // empty when it has none
    std::string_view help;
    TCommandLine::Action action;
};

// One row for each option, in the order the usage lists them.
constexpr OptionRow Options[] = {
    {"--help", "-h", "show this text and end", TCommandLine::Action::Help},
    {"--version", "", "show the version and end", TCommandLine::Action::Version},
    {"--collections", "", "list the recorded collections, newest first",
     TCommandLine::Action::Collections},
    {"--undo [TIME]", "", "put the newest collection still in the trash back, or the one of TIME",
     TCommandLine::Action::Undo},
    {"--preview", "",
     "list every file a collection with the saved settings would move now, then a\n"
     "                  summary per stage; moves and writes nothing",
     TCommandLine::Action::Preview},
    {"--null", "",
     "with --preview: end each path with NUL (for xargs -0), summaries to\n"
     "                  standard error",
     TCommandLine::Action::Run},
};

std::string_view nameOf(const OptionRow& option)
{
    return option.longName.substr(0, option.longName.find(' '));
}

const OptionRow* findOption(std::string_view parameter)
{
    for (const OptionRow& option : Options) {
        if (parameter == nameOf(option) ||
            (!option.shortName.empty() && parameter == option.shortName))
            return &option;
    }
    return nullptr;
}

} // namespace

TCommandLine parseCommandLine(const std::vector<std::string>& parameters)
{
    TCommandLine line;
    for (std::size_t k = 0; k < parameters.size(); ++k) {
        const std::string& parameter = parameters[k];
        if (const OptionRow* option = findOption(parameter)) {
            if (option->longName == "--null") {
                line.nul = true;
                continue;
            }
            line.action = option->action;
            // A listing may still be given --null, or refuse what follows.
            if (option->action == TCommandLine::Action::Preview)
                continue;
            if (line.action == TCommandLine::Action::Undo && k + 1 < parameters.size() &&
                !parameters[k + 1].starts_with("-"))
                line.undoTime = parameters[k + 1];
            return line;
        }
        if (parameter.starts_with("--")) {
            line.action = TCommandLine::Action::Unknown;
            line.unknown = parameter;
            return line;
        }
        ++line.paramCount;
    }
    if (line.nul && line.action != TCommandLine::Action::Preview) {
        line.action = TCommandLine::Action::Unknown;
        line.unknown = "--null (it goes with --preview)";
    }
    return line;
}

void printUsage(std::ostream& out)
{
    out << "Usage: vorlax [/a]\n"
           "       vorlax --preview [--null]\n"
           "Clears rubbish off local disks: every file found goes to the trash.\n"
           "\n"
           "  vorlax          open the window: collect now, or choose what to collect and\n"
           "                  how often\n"
           "  vorlax /a       the unattended start of the autostart entry and the timer:\n"
           "                  collect once when the next date has come, then end (any\n"
           "                  parameter that is no option does the same)\n"
           "  vorlax --preview\n"
           "                  list what a collection would move now, without moving it\n"
           "\n"
           "Options:\n";
    for (const OptionRow& option : Options) {
        std::string names(option.longName);
        if (!option.shortName.empty())
            names = std::string(option.shortName) + ", " + names;
        names.resize(std::max<std::size_t>(names.size() + 1, 16), ' ');
        out << "  " << names << option.help << "\n";
    }
    out << "\n"
           "The settings live in vorlax.ini in $VORLAX_WINDIR, by default\n"
           "$XDG_CONFIG_HOME/vorlax (~/.config/vorlax). Each collection is recorded in\n"
           "$XDG_STATE_HOME/vorlax/collections (~/.local/state/vorlax/collections).\n"
           "More in vorlax(1).\n";
}

void printVersion(std::ostream& out)
{
    out << "vorlax " << VORLAX_VERSION << "\n";
}
