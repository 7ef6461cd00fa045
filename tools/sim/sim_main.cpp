// tessaron-sim: synthetic spectral-scan streams of known RF scenarios.
//
//   tessaron-sim list
//   tessaron-sim generate --scenario NAME --out FILE.pcap --truth FILE.json
//                [--seed N] [--duration S] [--interval-us N] [--clock-wrap]
//                [--attenuate-db N] [--run-seconds S]
//   tessaron-sim send --scenario NAME --to ADDR:PORT [--seed N] [--duration S]
//   tessaron-sim listen --on ADDR:PORT --out FILE [--seconds S] [--count N]
//                [--idle S] [--port-file FILE]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "capture_file.h"
#include "scenarios.h"
#include "score.h"

namespace {

const char kUsage[] =
    "usage: tessaron-sim list\n"
    "       tessaron-sim generate --scenario NAME --out FILE.pcap --truth FILE.json\n"
    "                    [--seed N] [--duration S] [--interval-us N] [--clock-wrap]\n"
    "                    [--attenuate-db N] [--run-seconds S]\n"
    "       tessaron-sim send --scenario NAME --to ADDR:PORT [--seed N] [--duration S]\n"
    "                    [--interval-us N] [--attenuate-db N] [--truth FILE.json]\n"
    "       tessaron-sim listen --on ADDR:PORT --out FILE [--seconds S] [--count N]\n"
    "                    [--idle S] [--port-file FILE]\n";

struct Args {
    std::map<std::string, std::string> values;
    bool ok = true;
};

Args ParseArgs(int argc, char** argv, int first) {
    Args args;
    for (int i = first; i < argc; i++) {
        const std::string a = argv[i];
        if (a.rfind("--", 0) != 0) {
            std::cerr << "tessaron-sim: unexpected argument '" << a << "'\n";
            args.ok = false;
            continue;
        }
        const std::string key = a.substr(2);
        if (key == "clock-wrap") {
            args.values[key] = "1";
        } else if (i + 1 < argc) {
            args.values[key] = argv[++i];
        } else {
            std::cerr << "tessaron-sim: " << a << " needs a value\n";
            args.ok = false;
        }
    }
    return args;
}

bool ParseAddress(const std::string& text, sockaddr_in* addr) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    memset(addr, 0, sizeof(*addr));
    addr->sin_family = AF_INET;
    char* end = nullptr;
    const long port = strtol(text.c_str() + colon + 1, &end, 10);
    if (end == text.c_str() + colon + 1 || *end != '\0' || port < 0 || port > 65535) {
        return false;
    }
    addr->sin_port = htons(static_cast<uint16_t>(port));
    return inet_pton(AF_INET, text.substr(0, colon).c_str(), &addr->sin_addr) == 1;
}

bool Number(const Args& args, const std::string& key, double* out) {
    const auto it = args.values.find(key);
    if (it == args.values.end()) {
        return true;
    }
    char* end = nullptr;
    *out = strtod(it->second.c_str(), &end);
    if (end == it->second.c_str() || *end != '\0') {
        std::cerr << "tessaron-sim: --" << key << " wants a number, not '" << it->second << "'\n";
        return false;
    }
    return true;
}

struct Common {
    std::unique_ptr<sim::Scenario> scenario;
    sim::CardConfig card;
    uint32_t seed = 1;
};

bool Prepare(const Args& args, Common* c) {
    const auto name = args.values.find("scenario");
    if (name == args.values.end()) {
        std::cerr << "tessaron-sim: --scenario is required (see 'tessaron-sim list')\n";
        return false;
    }
    double seed = 1, duration = 0, interval = c->card.interval_us, attenuate = 0, run = 0;
    if (!Number(args, "seed", &seed) || !Number(args, "duration", &duration) ||
        !Number(args, "run-seconds", &run) || !Number(args, "interval-us", &interval) ||
        !Number(args, "attenuate-db", &attenuate)) {
        return false;
    }
    if (attenuate < -30 || attenuate > 80) {
        std::cerr << "tessaron-sim: --attenuate-db must lie between -30 and 80\n";
        return false;
    }
    if (interval < 4 || interval > 2000) {
        std::cerr << "tessaron-sim: --interval-us must lie between 4 and 2000\n";
        return false;
    }
    if (duration < 0 || duration > 3600) {
        std::cerr << "tessaron-sim: --duration must lie between 0 and 3600 s\n";
        return false;
    }
    c->seed = static_cast<uint32_t>(seed);
    c->card.interval_us = interval;
    c->card.clock_wrap = args.values.count("clock-wrap") != 0;
    c->scenario = sim::BuildScenario(name->second, c->seed, duration, attenuate);
    if (c->scenario && run > 0) {
        // A short run, carried past any switch-off.
        c->scenario = sim::BuildScenario(name->second, c->seed,
                                         sim::ShortRunSeconds(*c->scenario, run), attenuate);
    }
    if (!c->scenario) {
        std::cerr << "tessaron-sim: unknown scenario '" << name->second
                  << "' (see 'tessaron-sim list')\n";
        return false;
    }
    return true;
}

bool WriteTruth(const Args& args, const Common& c) {
    const auto truth = args.values.find("truth");
    if (truth == args.values.end()) {
        return true;
    }
    std::ofstream out(truth->second);
    out << sim::TruthJson(*c.scenario, c.card, c.seed);
    out.close();
    if (!out) {
        std::cerr << "tessaron-sim: cannot write " << truth->second << "\n";
        return false;
    }
    return true;
}

int List() {
    for (const sim::ScenarioInfo& s : sim::ListScenarios()) {
        printf("%-26s %4.0f s  %s\n", s.name.c_str(), s.duration_s, s.description.c_str());
    }
    return 0;
}

int Generate(const Args& args) {
    Common c;
    if (!Prepare(args, &c)) {
        return 2;
    }
    const auto out = args.values.find("out");
    if (out == args.values.end()) {
        std::cerr << "tessaron-sim: --out FILE.pcap is required\n";
        return 2;
    }
    sim::PcapFile pcap;
    if (!pcap.Open(out->second)) {
        std::cerr << "tessaron-sim: cannot write " << out->second << "\n";
        return 1;
    }
    const sim::GeneratorStats stats =
        sim::RunScenario(*c.scenario, c.card, c.seed,
                         [&pcap](const uint8_t* wire, size_t len, int64_t sec, int64_t usec) {
                             return pcap.WriteUdp(wire, len, sec, usec);
                         });
    if (!pcap.Close()) {
        std::cerr << "tessaron-sim: write error on " << out->second << "\n";
        return 1;
    }
    if (!WriteTruth(args, c)) {
        return 1;
    }
    fprintf(stderr,
            "%s: %llu samples in %llu datagrams, %.1f s of air in %.2f s (%.0f samples/s)\n",
            c.scenario->name.c_str(), static_cast<unsigned long long>(stats.samples),
            static_cast<unsigned long long>(stats.datagrams), c.scenario->duration_s, stats.seconds,
            stats.seconds > 0 ? stats.samples / stats.seconds : 0.0);
    return 0;
}

int Send(const Args& args) {
    Common c;
    if (!Prepare(args, &c)) {
        return 2;
    }
    sockaddr_in to;
    const auto dest = args.values.find("to");
    if (dest == args.values.end() || !ParseAddress(dest->second, &to)) {
        std::cerr << "tessaron-sim: --to ADDR:PORT is required\n";
        return 2;
    }
    if (!WriteTruth(args, c)) {
        return 1;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        perror("tessaron-sim: socket");
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    int64_t first_us = -1;
    sim::RunScenario(
        *c.scenario, c.card, c.seed,
        [&](const uint8_t* wire, size_t len, int64_t sec, int64_t usec) {
            const int64_t t = sec * 1000000 + usec;
            if (first_us < 0) {
                first_us = t;
            }
            std::this_thread::sleep_until(start + std::chrono::microseconds(t - first_us));
            sendto(fd, wire, len, 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
            return true;
        });
    close(fd);
    return 0;
}

// A UDP socket with a large receive buffer bound to `on`; -1 after saying
// why when it cannot be had.
int BindListener(const sockaddr_in& on) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int size = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    if (fd < 0 || bind(fd, reinterpret_cast<const sockaddr*>(&on), sizeof(on)) != 0) {
        perror("tessaron-sim: bind");
        return -1;
    }
    return fd;
}

// With port 0 the kernel picks one; tells the caller which.
void WriteBoundPort(int fd, const std::string& path) {
    sockaddr_in bound;
    socklen_t len = sizeof(bound);
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    std::ofstream(path) << ntohs(bound.sin_port) << "\n";
}

// Writes each datagram received, escaped, on a line of its own. Bounded by
// time, by count, and (after the first datagram) by silence; returns the
// datagrams recorded.
long Record(int fd, std::ofstream& out, double seconds, double count, double idle) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    auto last = std::chrono::steady_clock::now();
    long received = 0;
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || (count > 0 && received >= count)) {
            break;
        }
        if (idle > 0 && received > 0 &&
            now - last > std::chrono::milliseconds(static_cast<long>(idle * 1000))) {
            break;
        }
        if (poll(&p, 1, 50) <= 0) {
            continue;
        }
        char buf[65536];
        const ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n < 0) {
            continue;
        }
        out << sim::EscapeDatagram(std::string(buf, static_cast<size_t>(n))) << "\n";
        out.flush();
        received++;
        last = std::chrono::steady_clock::now();
    }
    return received;
}

int Listen(const Args& args) {
    sockaddr_in on;
    const auto addr = args.values.find("on");
    const auto out_name = args.values.find("out");
    if (addr == args.values.end() || !ParseAddress(addr->second, &on)) {
        std::cerr << "tessaron-sim: --on ADDR:PORT is required\n";
        return 2;
    }
    if (out_name == args.values.end()) {
        std::cerr << "tessaron-sim: --out FILE is required\n";
        return 2;
    }
    double seconds = 60, count = 0, idle = 0;
    if (!Number(args, "seconds", &seconds) || !Number(args, "count", &count) ||
        !Number(args, "idle", &idle)) {
        return 2;
    }
    const int fd = BindListener(on);
    if (fd < 0) {
        return 1;
    }
    std::ofstream out(out_name->second);
    if (!out) {
        std::cerr << "tessaron-sim: cannot write " << out_name->second << "\n";
        return 1;
    }
    const auto port_file = args.values.find("port-file");
    if (port_file != args.values.end()) {
        WriteBoundPort(fd, port_file->second);
    }
    const long received = Record(fd, out, seconds, count, idle);
    close(fd);
    fprintf(stderr, "tessaron-sim listen: %ld datagrams recorded\n", received);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0) {
        fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    const Args args = ParseArgs(argc, argv, 2);
    if (!args.ok) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (command == "list") {
        return List();
    }
    if (command == "generate") {
        return Generate(args);
    }
    if (command == "send") {
        return Send(args);
    }
    if (command == "listen") {
        return Listen(args);
    }
    std::cerr << "tessaron-sim: unknown command '" << command << "'\n" << kUsage;
    return 2;
}
