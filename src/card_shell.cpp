#include "card_shell.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Fork and exec without the C library's shell; the child only calls
// async-signal-safe functions, as the channel thread forks beside the
// receive thread.
int RunProgram(const std::vector<std::string>& args, std::string* output) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (output != nullptr && pipe2(fds, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        if (output != nullptr) {
            dup2(fds[1], STDOUT_FILENO);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (output != nullptr) {
        close(fds[1]);
        char buffer[256];
        for (;;) {
            const ssize_t n = read(fds[0], buffer, sizeof(buffer));
            if (n > 0) {
                output->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;
            }
        }
        close(fds[0]);
    }
    if (pid < 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return output != nullptr ? 0 : status;
}

}  // namespace

bool IsExecutable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

CardShell ChooseCardShell(const std::string& requested,
                          const std::function<bool(const std::string&)>& executable) {
    CardShell shell;
    if (!requested.empty()) {
        shell.program = requested;
        shell.is_shell = EndsWith(requested, "sh");
        return shell;
    }
    const bool android = !executable(CONST_POSIX_SHELL) && executable(CONST_ANDROID_SHELL);
    shell.program = android ? CONST_ANDROID_SHELL : CONST_POSIX_SHELL;
    return shell;
}

ChannelManager::ShellRunner ExecShellRunner(const CardShell& shell) {
    return [shell](const std::string& command, std::string* output) {
        if (shell.is_shell) {
            return RunProgram({shell.program, "-c", command}, output);
        }
        return RunProgram({shell.program, command}, output);
    };
}
