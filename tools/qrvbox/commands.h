// The subcommands. Each returns the exit status; failures have been said on standard error.
#pragma once

#include "tools/qrvbox/command_line.h"
#include "tools/qrvbox/settings.h"

int RunUsers(const CommandLine& line, const Settings& settings);
int RunFolders(const CommandLine& line, const Settings& settings);
int RunList(const CommandLine& line, const Settings& settings);
int RunFetch(const CommandLine& line, const Settings& settings);
int RunArchive(const CommandLine& line, const Settings& settings);
int RunDelete(const CommandLine& line, const Settings& settings);
