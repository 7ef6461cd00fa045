// Runs the real tessaron binary for end-to-end tests: a private working
// directory, stdout and stderr captured to files, loopback ports chosen by the
// kernel, and datagrams sent to its spectrum port.
#ifndef TESSARON_TESTS_E2E_DAEMON_PROCESS_H
#define TESSARON_TESTS_E2E_DAEMON_PROCESS_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// A UDP port on 127.0.0.1 that was free a moment ago.
inline int FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

// Collects the UI event datagrams the daemon sends, on a thread of its own so
// that a burst of events never overflows the socket.
class EventCollector {
public:
    EventCollector() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        const int size = 8 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
        sockaddr_in addr;
        memset(&addr, 0, sizeof(addr));
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        socklen_t len = sizeof(addr);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        reader_ = std::thread([this] { Run(); });
    }
    ~EventCollector() {
        stop_ = true;
        reader_.join();
        close(fd_);
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // Waits until an event containing `text` has arrived (at most ~10 s).
    bool WaitFor(const std::string& text, int timeout_ms = 10000) {
        for (int waited = 0;; waited += 20) {
            for (const std::string& e : Events()) {
                if (e.find(text) != std::string::npos) {
                    return true;
                }
            }
            if (waited >= timeout_ms) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // Waits until no datagram has arrived for quiet_ms.
    void Settle(int quiet_ms = 300) {
        size_t seen = Events().size();
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(quiet_ms));
            const size_t now = Events().size();
            if (now == seen) {
                return;
            }
            seen = now;
        }
    }

private:
    void Run() {
        pollfd p{fd_, POLLIN, 0};
        while (!stop_) {
            if (poll(&p, 1, 50) <= 0) {
                continue;
            }
            char buf[65536];
            const ssize_t n = recv(fd_, buf, sizeof(buf), 0);
            if (n >= 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                events_.emplace_back(buf, static_cast<size_t>(n));
            }
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> events_;
    std::thread reader_;
};

class DaemonProcess {
public:
    DaemonProcess() {
        char pattern[] = "/tmp/tessaron-e2e-XXXXXX";
        dir_ = mkdtemp(pattern);
        listen_port_ = FreeUdpPort();
        send_fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    }
    ~DaemonProcess() {
        Kill();
        close(send_fd_);
        const std::string cmd = "rm -rf '" + dir_ + "'";
        if (system(cmd.c_str()) != 0) {
            // Leftover temporary files are harmless.
        }
    }

    const std::string& Dir() const { return dir_; }
    int ListenPort() const { return listen_port_; }
    std::string ListenOption() const { return "127.0.0.1:" + std::to_string(listen_port_); }

    // Writes a shell script into the working directory that logs every
    // card-control command it is given instead of running it.
    std::string WriteRecordingShell() {
        const std::string path = dir_ + "/record-shell";
        std::ofstream out(path);
        out << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << dir_ << "/commands.log'\n";
        out.close();
        chmod(path.c_str(), 0755);
        return path;
    }

    void Start(const std::vector<std::string>& args) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(dir_.c_str()) != 0) {
                _exit(127);
            }
            const int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(TESSARON_BINARY));
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            execv(TESSARON_BINARY, argv.data());
            _exit(127);
        }
    }

    // Sends datagrams with a short pause every few, as a producer would.
    void SendAll(const std::vector<std::vector<uint8_t>>& datagrams) const {
        for (size_t i = 0; i < datagrams.size(); i++) {
            Send(datagrams[i].data(), datagrams[i].size());
            if (i % 8 == 7) {
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        }
    }

    void Send(const void* data, size_t len) const {
        sockaddr_in addr;
        memset(&addr, 0, sizeof(addr));
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(listen_port_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(send_fd_, data, len, 0, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    }

    std::string Stdout() const { return ReadFile(dir_ + "/stdout.txt"); }
    // Without root the kernel may grant a smaller receive buffer than the
    // daemon asks for; that warning says nothing about the input under test.
    std::string Stderr() const {
        std::istringstream in(ReadFile(dir_ + "/stderr.txt"));
        std::string out;
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("Warning!! receive buffer is ", 0) != 0) {
                out += line + "\n";
            }
        }
        return out;
    }

    // Polls a captured stream until it contains `text` (at most ~10 s).
    bool WaitFor(bool from_stderr, const std::string& text, int timeout_ms = 10000) const {
        for (int waited = 0; waited < timeout_ms; waited += 20) {
            const std::string s = from_stderr ? Stderr() : Stdout();
            if (s.find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    bool IsRunning() {
        if (pid_ <= 0) {
            return false;
        }
        int status = 0;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exit_status_ = status;
            pid_ = -1;
            return false;
        }
        return true;
    }

    // Sends a signal without waiting for anything.
    void Signal(int sig) const {
        if (pid_ > 0) {
            kill(pid_, sig);
        }
    }

    // Sends a signal and waits for the exit; returns the wait status.
    int Stop(int sig = SIGTERM) {
        if (pid_ > 0) {
            kill(pid_, sig);
            waitpid(pid_, &exit_status_, 0);
            pid_ = -1;
        }
        return exit_status_;
    }

    // Waits for the process to exit on its own; returns the wait status.
    int Wait() {
        if (pid_ > 0) {
            waitpid(pid_, &exit_status_, 0);
            pid_ = -1;
        }
        return exit_status_;
    }

private:
    void Kill() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    std::string dir_;
    int listen_port_ = 0;
    int send_fd_ = -1;
    pid_t pid_ = -1;
    int exit_status_ = 0;
};

#endif
