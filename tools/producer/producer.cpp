#include "producer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "capture_file.h"
#include "command_line.h"
#include "host_port.h"
#include "signal_handlers.h"

namespace relay {

namespace {

constexpr size_t READ_BUFFER_SIZE = 256 * 1024;
// How often a followed file that has no new data is looked at again.
constexpr int FOLLOW_POLL_MS = 5;
// How often a pipe without data is looked at again (for a stop request).
constexpr long STREAM_POLL_MS = 200;
// Card time steps longer than this (or backwards: the card restarts its
// clock when it retunes) do not advance a converted dump's packet clock.
constexpr uint64_t MAX_CLOCK_STEP_US = 1000000;

volatile sig_atomic_t stop_requested = 0;

void RequestStop(int) {
    stop_requested = 1;
}

void InstallStopHandlers() {
    InstallSignalPair(SIGINT, SIGTERM, RequestStop);
}

bool ParseInt(const std::string& text, long low, long high, long* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long v = strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    *out = v;
    return true;
}

bool ParseDestination(const std::string& text, sockaddr_in* out) {
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(text, &host, &port) || port == 0) {
        return false;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;  // the daemon listens on IPv4
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return false;
    }
    memcpy(out, found->ai_addr, sizeof(sockaddr_in));
    out->sin_port = htons(port);
    freeaddrinfo(found);
    return true;
}

class Output {
public:
    virtual ~Output() = default;
    virtual void Send(const uint8_t* wire, size_t len, uint64_t last_ts) = 0;
    uint64_t failures = 0;
};

class UdpOutput : public Output {
public:
    explicit UdpOutput(const sockaddr_in& to) : to_(to), fd_(socket(AF_INET, SOCK_DGRAM, 0)) {}
    ~UdpOutput() override {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0; }
    void Send(const uint8_t* wire, size_t len, uint64_t) override {
        if (sendto(fd_, wire, len, 0, reinterpret_cast<const sockaddr*>(&to_), sizeof(to_)) ==
            static_cast<ssize_t>(len)) {
            return;
        }
        failures++;
        if (failures == 1 || failures % 1000 == 0) {
            fprintf(stderr, "Warning!! cannot send datagram: %s (%llu so far)\n", strerror(errno),
                    static_cast<unsigned long long>(failures));
        }
    }

private:
    sockaddr_in to_;
    int fd_;
};

// Packets of a live card carry the host time; those of a converted dump a
// clock that starts now and follows the card's own timestamps, so that the
// daemon's replay sees the device lifetimes the card saw.
class PcapOutput : public Output {
public:
    PcapOutput(const std::string& path, bool live) : live_(live) {
        ok_ = file_.Open(path);
        gettimeofday(&start_, nullptr);
    }
    ~PcapOutput() override { file_.Close(); }
    bool Ok() const { return ok_; }
    bool Close() { return file_.Close(); }
    void Send(const uint8_t* wire, size_t len, uint64_t last_ts) override {
        timeval when;
        if (live_) {
            gettimeofday(&when, nullptr);
        } else {
            if (have_prev_ && last_ts > prev_ts_ && last_ts - prev_ts_ <= MAX_CLOCK_STEP_US) {
                elapsed_us_ += last_ts - prev_ts_;
            }
            have_prev_ = true;
            prev_ts_ = last_ts;
            const uint64_t us = static_cast<uint64_t>(start_.tv_usec) + elapsed_us_;
            when.tv_sec = start_.tv_sec + static_cast<time_t>(us / 1000000);
            when.tv_usec = static_cast<suseconds_t>(us % 1000000);
        }
        if (!file_.WriteUdp(wire, len, when.tv_sec, when.tv_usec)) {
            failures++;
        }
    }

private:
    sim::PcapFile file_;
    bool live_;
    bool ok_ = false;
    timeval start_;
    bool have_prev_ = false;
    uint64_t prev_ts_ = 0;
    uint64_t elapsed_us_ = 0;
};

// Decoded reports go straight into the next datagram slot.
class BatchingSink : public ReportSink {
public:
    BatchingSink(SampleMapper& mapper, DatagramBatcher& batcher)
        : mapper_(mapper), batcher_(batcher) {}
    void OnReport(const Ht20Report& report) override {
        mapper_.MapReport(report, batcher_.NextSlot());
        batcher_.Commit();
        last_report_ = std::chrono::steady_clock::now();
    }
    // Milliseconds until a partly filled datagram is due; <= 0 when it is.
    long FlushDueInMs(int flush_ms) const {
        const auto idle = std::chrono::steady_clock::now() - last_report_;
        return flush_ms - std::chrono::duration_cast<std::chrono::milliseconds>(idle).count();
    }

private:
    SampleMapper& mapper_;
    DatagramBatcher& batcher_;
    std::chrono::steady_clock::time_point last_report_;
};

struct Input {
    int fd = -1;
    bool stream = false;  // pipe, socket or terminal: end of data is final
};

bool OpenInput(const std::string& path, Input* in) {
    in->fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in->fd < 0) {
        fprintf(stderr, "Cannot read %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    struct stat st;
    in->stream = fstat(in->fd, &st) == 0 &&
                 (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode));
    return true;
}

// Reads, decodes and sends until the input ends or a stop is requested.
// Returns false on a read error.
bool Pump(const ProducerOptions& options, const Input& in, RelayDecoder& decoder,
          BatchingSink& sink, DatagramBatcher& batcher) {
    std::vector<uint8_t> buffer(READ_BUFFER_SIZE);
    size_t have = 0;
    bool ok = true;
    while (!stop_requested) {
        long wait_ms = STREAM_POLL_MS;
        if (batcher.Pending()) {
            wait_ms = sink.FlushDueInMs(options.flush_ms);
            if (wait_ms <= 0) {
                batcher.Flush();
                continue;
            }
        }
        // A pipe is read only when it has data, so that neither a due flush
        // nor a stop waits for the next report.
        pollfd p = {in.fd, POLLIN, 0};
        if (in.stream && poll(&p, 1, static_cast<int>(std::min(wait_ms, STREAM_POLL_MS))) <= 0) {
            continue;
        }
        const ssize_t n = read(in.fd, buffer.data() + have, buffer.size() - have);
        if (n > 0) {
            have += static_cast<size_t>(n);
            const size_t used = decoder.Decode(buffer.data(), have, false, sink);
            memmove(buffer.data(), buffer.data() + used, have - used);
            have -= used;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            fprintf(stderr, "Cannot read %s: %s\n", options.input.c_str(), strerror(errno));
            ok = false;
            break;
        }
        if (n == 0 && (!options.follow || in.stream)) {
            break;
        }
        // Following a file that has not grown yet.
        std::this_thread::sleep_for(std::chrono::milliseconds(FOLLOW_POLL_MS));
    }
    decoder.Decode(buffer.data(), have, true, sink);
    batcher.Flush();
    return ok;
}

bool TakesValue(const std::string& name) {
    return name == "--input" || name == "--to" || name == "--pcap" || name == "--flush-ms" ||
           name == "--noise-floor";
}

// A whole number from low to high; `needs` says so when the value is not.
bool ParseBounded(const std::string& name, const std::string& value, long low, long high,
                  const char* needs, int* out, std::string* error) {
    long number = 0;
    if (!ParseInt(value, low, high, &number)) {
        *error = name + " needs " + needs + ", got '" + value + "'";
        return false;
    }
    *out = static_cast<int>(number);
    return true;
}

bool TakeValue(const std::string& name, const std::string& value, ProducerOptions* options,
               std::string* error) {
    if (name == "--input") {
        options->input = value;
    } else if (name == "--pcap") {
        options->pcap_file = value;
    } else if (name == "--to") {
        if (!ParseDestination(value, &options->to)) {
            *error = "--to needs ADDR:PORT, got '" + value + "'";
            return false;
        }
    } else if (name == "--flush-ms") {
        return ParseBounded(name, value, 1, 60000, "1 to 60000", &options->flush_ms, error);
    } else {
        int floor = 0;
        if (!ParseBounded(name, value, -150, 0, "dBm from -150 to 0", &floor, error)) {
            return false;
        }
        options->noise_floor = floor;
    }
    return true;
}

}  // namespace

bool ParseProducerOptions(int argc, const char* const* argv, ProducerOptions* options,
                          std::string* error) {
    *options = ProducerOptions();
    ParseDestination("127.0.0.1:10000", &options->to);
    const auto take = [options](const std::string& name, const std::string& value,
                                std::string* why) { return TakeValue(name, value, options, why); };
    const std::initializer_list<FlagOption> flags = {{"--help", &options->show_help, true},
                                                     {"-h", &options->show_help, true},
                                                     {"--follow", &options->follow, false}};
    if (!WalkOptions(ArgumentsOf(argc, argv), flags, TakesValue, take, error)) {
        return false;
    }
    if (options->input.empty() && !options->show_help) {
        *error = "--input PATH is required ('-' for standard input)";
        return false;
    }
    return true;
}

std::string ProducerUsage(const std::string& program) {
    return "Usage: " + program +
           " --input PATH [options]\n"
           "Turns the card's spectral-scan relay stream into spectrum datagrams.\n" +
           OptionHelpLines(
               {{"--input PATH", "relay file or saved dump; '-' reads standard input"},
                {"--follow", "keep reading as the file grows, until SIGINT/SIGTERM"},
                {"--to ADDR:PORT", "send datagrams here (default 127.0.0.1:10000)"},
                {"--pcap FILE", "write a capture for 'tessaron --replay' instead"},
                {"--flush-ms N",
                 "send a partly filled datagram after N ms without\n"
                 "reports (default 20)"},
                {"--noise-floor DBM", "use this noise floor instead of the card's readings"},
                {"-h, --help", "this text"}},
               20);
}

std::string FormatProducerSummary(const ProducerSummary& s) {
    const DecoderCounters& d = s.decoder;
    std::ostringstream out;
    out << "Producer: " << d.records << " records read, " << d.reports << " converted, "
        << d.SkippedTotal() << " skipped, " << s.datagrams << " datagrams sent\n";
    out << "  records by type: 1: " << d.by_type[1] << ", 2: " << d.by_type[2]
        << ", 3: " << d.by_type[3] << ", 4: " << d.by_type[4] << ", other: " << d.by_type[0]
        << "\n";
    out << "  skipped:";
    for (int r = 0; r < static_cast<int>(SkipReason::kCount); r++) {
        out << (r == 0 ? " " : ", ") << d.skipped[r] << " "
            << SkipReasonName(static_cast<SkipReason>(r));
    }
    out << "\n";
    out << "  repaired: " << d.one_byte_short << " one byte short, " << d.overlong << " overlong; "
        << d.garbage_bytes << " garbage bytes in " << d.garbage_runs << " runs; "
        << s.mapper.implausible_noise << " noise floors replaced, " << s.mapper.rssi_clamped
        << " powers clamped; " << s.send_failures << " send failures\n";
    return out.str();
}

int RunProducer(const ProducerOptions& options, ProducerSummary* summary) {
    stop_requested = 0;
    InstallStopHandlers();
    Input in;
    if (!OpenInput(options.input, &in)) {
        return 1;
    }
    std::unique_ptr<Output> output;
    if (!options.pcap_file.empty()) {
        auto pcap = std::make_unique<PcapOutput>(options.pcap_file, options.follow);
        if (!pcap->Ok()) {
            fprintf(stderr, "Cannot write %s: %s\n", options.pcap_file.c_str(), strerror(errno));
            return 1;
        }
        output = std::move(pcap);
    } else {
        auto udp = std::make_unique<UdpOutput>(options.to);
        if (!udp->Ok()) {
            fprintf(stderr, "Cannot open a UDP socket: %s\n", strerror(errno));
            return 1;
        }
        output = std::move(udp);
    }
    RelayDecoder decoder;
    SampleMapper mapper(options.noise_floor);
    DatagramBatcher batcher([&output](const uint8_t* wire, size_t len, uint64_t last_ts) {
        output->Send(wire, len, last_ts);
    });
    BatchingSink sink(mapper, batcher);
    const bool read_ok = Pump(options, in, decoder, sink, batcher);
    if (in.fd != STDIN_FILENO) {
        close(in.fd);
    }
    summary->decoder = decoder.Counters();
    summary->mapper = mapper.Counters();
    summary->datagrams = batcher.Datagrams();
    summary->send_failures = output->failures;
    output.reset();
    fputs(FormatProducerSummary(*summary).c_str(), stderr);
    return read_ok ? 0 : 1;
}

}  // namespace relay
