// qrvbox: the device's document storage from the command line.
// Exit status: 0 success, 1 failure, 2 usage error; messages on standard error.
#include <string>

#include "tools/qrvbox/command_line.h"
#include "tools/qrvbox/commands.h"
#include "tools/qrvbox/output.h"
#include "tools/qrvbox/platform.h"
#include "tools/qrvbox/settings.h"

namespace {

int Run(const CommandLine& line, const Settings& settings) {
    switch (line.command) {
    case Command::Users: return RunUsers(line, settings);
    case Command::Folders: return RunFolders(line, settings);
    case Command::List: return RunList(line, settings);
    case Command::Fetch: return RunFetch(line, settings);
    case Command::Archive: return RunArchive(line, settings);
    case Command::Delete: return RunDelete(line, settings);
    case Command::None: break;
    }
    return ExitUsage;
}

std::string Help(Command command) {
    std::string text = HelpText(command);
    const std::string marker = "%SETTINGS%";
    const size_t at = text.find(marker);
    if (at != std::string::npos) text.replace(at, marker.size(), SavedSettingsPlace());
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    PrepareConsole();
    CommandLine line;
    std::string problem;
    if (!ParseCommandLine(ProgramArguments(argc, argv), line, problem)) {
        Say(problem + "; " + UsageHint(line.command));
        return ExitUsage;
    }
    if (line.help) return PrintOut(Help(line.command)) ? ExitSuccess : ExitFailure;
    Settings settings;
    if (!ResolveSettings(line, settings, problem)) {
        Say(problem);
        return ExitFailure;
    }
    if (!settings.haveDevice) {
        Say("no device: give --device HOST[:PORT] or save one in " + SavedSettingsPlace());
        return ExitUsage;
    }
    if (line.command != Command::Users && settings.user.empty()) {
        Say("no user: give --user ID ('qrvbox users' lists them) or save one in " + SavedSettingsPlace());
        return ExitUsage;
    }
    WatchInterrupts();
    return Run(line, settings);
}
