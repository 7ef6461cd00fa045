// Runs the real tessaron binary as a child process: a private working
// directory, stdout and stderr captured to files there, a loopback listen
// port chosen by the kernel, and datagrams sent to that port.
#ifndef TESSARON_TESTS_KIT_DAEMON_PROCESS_H
#define TESSARON_TESTS_KIT_DAEMON_PROCESS_H

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "loopback_udp.h"
#include "temp_dir.h"
#include "ui_event_listener.h"

class DaemonProcess {
public:
    // The daemon built in this tree.
    DaemonProcess();
    // Another build of it, given by an absolute path.
    explicit DaemonProcess(std::string binary);
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    const std::string& Dir() const { return dir_.Path(); }
    int ListenPort() const { return listen_port_; }
    std::string ListenOption() const { return LoopbackOption(listen_port_); }
    pid_t Pid() const { return pid_; }

    // Writes a shell script into the working directory that logs every
    // card-control command it is given instead of running it.
    std::string WriteRecordingShell() const;

    void Start(const std::vector<std::string>& args);
    // Starts the daemon as it runs on a sensor: receiving on its loopback
    // port, sending UI events to ui_address and stepping the card through a
    // recording shell; `files` (the signature file, then the log files and
    // the card's names) follow. Returns the shell's path.
    std::string StartLive(const std::string& ui_address, const std::vector<std::string>& files);

    // Sends datagrams with a short pause every few, as a producer would.
    void SendAll(const std::vector<std::vector<uint8_t>>& datagrams) const;
    // One datagram to the listen port; true when all of it went out.
    bool Send(const void* data, size_t len) const { return sender_.Send(data, len); }

    std::string Stdout() const;
    // Without root the kernel may grant a smaller receive buffer than the
    // daemon asks for; that warning says nothing about the input under
    // test, so it is left out.
    std::string Stderr() const;

    // Polls a captured stream until it contains `text` (at most timeout_ms).
    bool WaitFor(bool from_stderr, const std::string& text, int timeout_ms = 10000) const;

    bool IsRunning();
    // Sends a signal without waiting for anything.
    void Signal(int sig) const {
        if (pid_ > 0) {
            kill(pid_, sig);
        }
    }

    // Sends a signal and waits for the exit; returns the wait status.
    int Stop(int sig = SIGTERM);
    // Waits for the process to exit on its own; returns the wait status.
    int Wait();

private:
    std::string binary_;
    TempDir dir_;
    uint16_t listen_port_;
    LoopbackSender sender_;
    pid_t pid_ = -1;
    int exit_status_ = 0;
};

// The exit code of a wait status; -1 when the process did not exit.
inline int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#endif
