// Where the card-control commands run. A Linux board has /bin/sh; an Android
// phone has no /bin/sh, only /system/bin/sh; a wrapper program (a dry-run
// logger, a privilege helper) may stand in for the shell.
#ifndef TESSARON_CARD_SHELL_H
#define TESSARON_CARD_SHELL_H

#include <functional>
#include <string>

#include "channel_manager.h"

inline constexpr const char* CONST_POSIX_SHELL = "/bin/sh";
inline constexpr const char* CONST_ANDROID_SHELL = "/system/bin/sh";

struct CardShell {
    std::string program;
    bool is_shell = true;  // given `-c <command>`; a wrapper gets `<command>` alone
};

// The program named on the command line, or else /bin/sh when it exists,
// or else /system/bin/sh when that exists, or else /bin/sh. A program whose
// file name ends in "sh" is taken for a shell.
CardShell ChooseCardShell(const std::string& requested,
                          const std::function<bool(const std::string&)>& executable);
bool IsExecutable(const std::string& path);

// Runs each command by executing the chosen program directly, so that no
// /bin/sh is needed to reach it. Same contract as ChannelManager::ShellRunner:
// the wait status, or with output the command's standard output and 0
// (negative when the program could not be started).
ChannelManager::ShellRunner ExecShellRunner(const CardShell& shell);

#endif
