#include "daemon_process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

DaemonProcess::DaemonProcess() : DaemonProcess(TESSARON_BINARY) {}

DaemonProcess::DaemonProcess(std::string binary)
    : binary_(std::move(binary)),
      dir_("tessaron-e2e"),
      listen_port_(static_cast<uint16_t>(FreeUdpPort())),
      sender_(listen_port_) {}

DaemonProcess::~DaemonProcess() {
    Stop(SIGKILL);
}

std::string DaemonProcess::WriteRecordingShell() const {
    const std::string path = Dir() + "/record-shell";
    std::ofstream out(path);
    out << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << Dir() << "/commands.log'\n";
    out.close();
    chmod(path.c_str(), 0755);
    return path;
}

std::string DaemonProcess::StartLive(const std::string& ui_address,
                                     const std::vector<std::string>& files) {
    const std::string shell = WriteRecordingShell();
    std::vector<std::string> args = {"--listen", ListenOption(), "--ui",
                                     ui_address, "--card-shell", shell};
    args.insert(args.end(), files.begin(), files.end());
    Start(args);
    return shell;
}

void DaemonProcess::Start(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary_.c_str()));
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        if (chdir(Dir().c_str()) != 0) {
            _exit(127);
        }
        const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        execv(binary_.c_str(), argv.data());
        _exit(127);
    }
}

void DaemonProcess::SendAll(const std::vector<std::vector<uint8_t>>& datagrams) const {
    for (size_t i = 0; i < datagrams.size(); i++) {
        Send(datagrams[i].data(), datagrams[i].size());
        if (i % 8 == 7) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
}

std::string DaemonProcess::Stdout() const {
    return ReadFile(Dir() + "/stdout.txt");
}

std::string DaemonProcess::Stderr() const {
    std::istringstream in(ReadFile(Dir() + "/stderr.txt"));
    std::string out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Warning!! receive buffer is ", 0) != 0) {
            out += line + "\n";
        }
    }
    return out;
}

bool DaemonProcess::WaitFor(bool from_stderr, const std::string& text, int timeout_ms) const {
    for (int waited = 0; waited < timeout_ms; waited += 20) {
        const std::string s = from_stderr ? Stderr() : Stdout();
        if (s.find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

bool DaemonProcess::IsRunning() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exit_status_ = status;
        pid_ = -1;
        return false;
    }
    return true;
}

int DaemonProcess::Stop(int sig) {
    if (pid_ > 0) {
        kill(pid_, sig);
    }
    return Wait();
}

int DaemonProcess::Wait() {
    if (pid_ > 0) {
        waitpid(pid_, &exit_status_, 0);
        pid_ = -1;
    }
    return exit_status_;
}
