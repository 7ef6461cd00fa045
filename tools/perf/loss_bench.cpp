// Live loss over loopback: runs the real daemon (card control off, every
// classifier pass in its receive path) and sends it a busy capture as a
// producer at the card's fastest rate would, 17,857 datagrams/s (250,000
// samples/s), numbering the datagrams 0, 1, 2, ... in seq_num.
//
// Loss is counted on what the daemon itself received: it records every
// datagram its receive loop takes in (--record) into a FIFO that this tool
// reads back, and the gaps in the seq_num sequence found there are the lost
// datagrams. The kernel's own drop counter for the daemon's socket
// (/proc/net/udp) is reported beside it, with the receive buffer the kernel
// granted (ss), the daemon's peak and final resident memory and its CPU use.
//
//   tessaron-loss DAEMON CAPTURE [--seconds S] [--rate DATAGRAMS_PER_S]
//
// Prints "key value" lines.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_stream.h"
#include "daemon_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// The /proc/net/udp line of the socket bound to 127.0.0.1:port, if any.
std::string ProcNetUdpLine(uint16_t port) {
    char local[32];
    snprintf(local, sizeof(local), "0100007F:%04X", port);
    std::istringstream lines(ReadFile("/proc/net/udp"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find(local) != std::string::npos) {
            return line;
        }
    }
    return "";
}

// The last column of /proc/net/udp: datagrams the kernel dropped because
// the socket's receive buffer was full.
long KernelDrops(uint16_t port) {
    std::istringstream fields(ProcNetUdpLine(port));
    std::string field;
    std::string last;
    while (fields >> field) {
        last = field;
    }
    return last.empty() ? -1 : atol(last.c_str());
}

// The receive buffer size ss reports for the socket (skmem rb).
long GrantedReceiveBuffer(uint16_t port) {
    const std::string cmd = "ss -u -a -m -n 'sport = :" + std::to_string(port) + "' 2>/dev/null";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof(buf), pipe) != nullptr) {
        out += buf;
    }
    pclose(pipe);
    const size_t rb = out.find(",rb");
    return rb == std::string::npos ? -1 : atol(out.c_str() + rb + 3);
}

long StatusKb(pid_t pid, const char* key) {
    std::istringstream lines(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key, 0) == 0) {
            return atol(line.c_str() + strlen(key));
        }
    }
    return -1;
}

// User plus system CPU time of the process, in clock ticks.
long CpuTicks(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close_paren = stat.rfind(')');
    if (close_paren == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close_paren + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    for (int i = 3; fields >> field; i++) {
        if (i == 14) {
            utime = atol(field.c_str());
        } else if (i == 15) {
            stime = atol(field.c_str());
            break;
        }
    }
    return utime + stime;
}

// Reads the daemon's recording (pcap, as written by --record) from the FIFO
// and follows the seq_num of every spectrum datagram in it.
struct RecordingReader {
    std::atomic<uint64_t> received{0};
    uint64_t gaps = 0;          // datagrams missing between consecutive ones
    uint64_t out_of_order = 0;  // a seq_num at or below the last one
    uint64_t last_seq = 0;
    bool any = false;

    void Run(const std::string& fifo, uint16_t port) {
        FILE* in = fopen(fifo.c_str(), "rb");
        if (in == nullptr) {
            return;
        }
        uint8_t global[24];
        if (fread(global, 1, sizeof(global), in) != sizeof(global)) {
            fclose(in);
            return;
        }
        uint32_t linktype = 0;
        memcpy(&linktype, global + 20, 4);
        std::vector<uint8_t> packet(65536);
        uint8_t header[16];
        while (fread(header, 1, sizeof(header), in) == sizeof(header)) {
            uint32_t caplen = 0;
            uint32_t len = 0;
            memcpy(&caplen, header + 8, 4);
            memcpy(&len, header + 12, 4);
            if (caplen > packet.size() || fread(packet.data(), 1, caplen, in) != caplen) {
                break;
            }
            const uint8_t* payload = nullptr;
            size_t payload_len = 0;
            if (ExtractUdpPayload(static_cast<int>(linktype & 0xFFFF), packet.data(), caplen, len,
                                  port, &payload, &payload_len) != PacketVerdict::kDatagram ||
                payload_len != FFT_DATA_WIRE_SIZE) {
                continue;
            }
            uint64_t seq = 0;
            for (int i = 7; i >= 0; i--) {
                seq = (seq << 8) | payload[1352 + i];
            }
            if (!any) {
                gaps += seq;  // datagrams lost before the first one seen
            } else if (seq > last_seq) {
                gaps += seq - last_seq - 1;
            } else {
                out_of_order++;
            }
            if (!any || seq > last_seq) {
                last_seq = seq;
            }
            any = true;
            received++;
        }
        fclose(in);
    }
};

void SetSeq(WireDatagram& wire, uint64_t seq) {
    for (int i = 0; i < 8; i++) {
        wire[1352 + i] = static_cast<uint8_t>(seq >> (8 * i));
    }
}

const char kArguments[] = "DAEMON CAPTURE [--seconds S] [--rate DATAGRAMS_PER_S]";

struct LossBenchOptions {
    std::string daemon_binary;  // absolute: the daemon runs in a directory of its own
    std::string capture;
    double seconds = 60.0;
    double rate = 17857.0;  // datagrams per second
};

// Reads the command line and loads the capture it names: 0 to run, else the
// exit status, after saying why.
int Prepare(int argc, char** argv, LossBenchOptions* options, BenchStream* stream) {
    if (argc < 3) {
        return BenchUsage(argv[0], kArguments);
    }
    char* daemon_path = realpath(argv[1], nullptr);
    if (daemon_path == nullptr) {
        perror(argv[1]);
        return 1;
    }
    options->daemon_binary = daemon_path;
    free(daemon_path);
    options->capture = argv[2];
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            options->seconds = atof(argv[++i]);
        } else if (strcmp(argv[i], "--rate") == 0 && i + 1 < argc) {
            options->rate = atof(argv[++i]);
        } else {
            return BenchUsage(argv[0], kArguments);
        }
    }
    return LoadCaptureStream(options->capture, stream) ? 0 : 1;
}

// The receive socket exists once it shows in /proc/net/udp.
void WaitForReceiveSocket(DaemonProcess& daemon, uint16_t listen_port) {
    for (int waited = 0; ProcNetUdpLine(listen_port).empty(); waited += 10) {
        if (waited > 10000) {
            fprintf(stderr, "the daemon did not open its port; see %s\n", daemon.Dir().c_str());
            daemon.Stop(SIGKILL);
            _exit(1);  // the FIFO reader may never see a writer; keeps the directory
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

struct SendFigures {
    uint64_t sent = 0;
    uint64_t send_errors = 0;
    double send_s = 0;
};

// Sends the stream, numbered, at the given rate for the given time.
SendFigures SendAtRate(const DaemonProcess& daemon, BenchStream& stream, double seconds,
                       double rate) {
    SendFigures f;
    const uint64_t total = static_cast<uint64_t>(seconds * rate);
    const double ns_per_datagram = 1e9 / rate;
    size_t next = 0;
    const auto start = Clock::now();
    while (f.sent < total) {
        const double elapsed_ns =
            std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        const uint64_t due =
            std::min<uint64_t>(total, static_cast<uint64_t>(elapsed_ns / ns_per_datagram) + 1);
        while (f.sent < due) {
            if (next == stream.datagrams.size()) {
                AdvanceStream(&stream);
                next = 0;
            }
            WireDatagram& wire = stream.datagrams[next];
            SetSeq(wire, f.sent);
            if (!daemon.Send(wire.data(), wire.size())) {
                f.send_errors++;
                continue;  // the producer tries the same datagram again
            }
            next++;
            f.sent++;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    f.send_s = std::chrono::duration<double>(Clock::now() - start).count();
    return f;
}

// What the daemon's process and socket show, read around the run.
struct DaemonFigures {
    long granted = -1;
    long drops_before = -1;
    long drops_after = -1;
    long cpu_before = -1;
    long cpu_after = -1;
    long hwm_kb = -1;
    long rss_kb = -1;
    int status = 0;
};

void PrintFigures(const SendFigures& f, const RecordingReader& recording, const DaemonFigures& d) {
    const uint64_t tail_lost = recording.any && recording.last_seq + 1 < f.sent
                                   ? f.sent - recording.last_seq - 1
                                   : (recording.any ? 0 : f.sent);
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    printf("sent %llu\n", static_cast<unsigned long long>(f.sent));
    printf("send_seconds %.2f\n", f.send_s);
    printf("send_rate %.0f\n", static_cast<double>(f.sent) / f.send_s);
    printf("send_errors %llu\n", static_cast<unsigned long long>(f.send_errors));
    printf("received %llu\n", static_cast<unsigned long long>(recording.received));
    printf("lost %llu\n", static_cast<unsigned long long>(recording.gaps + tail_lost));
    printf("out_of_order %llu\n", static_cast<unsigned long long>(recording.out_of_order));
    printf("kernel_drops %ld\n",
           d.drops_before >= 0 && d.drops_after >= 0 ? d.drops_after - d.drops_before : -1);
    printf("rcvbuf_granted %ld\n", d.granted);
    printf("peak_rss_kb %ld\n", d.hwm_kb);
    printf("final_rss_kb %ld\n", d.rss_kb);
    printf("daemon_cpu_percent %.1f\n",
           d.cpu_before >= 0 && d.cpu_after >= 0
               ? 100.0 * static_cast<double>(d.cpu_after - d.cpu_before) / ticks / (f.send_s + 1.5)
               : -1.0);
    printf("daemon_exit %d\n", ExitCode(d.status));
}

}  // namespace

int main(int argc, char** argv) {
    LossBenchOptions options;
    BenchStream stream;
    if (const int status = Prepare(argc, argv, &options, &stream)) {
        return status;
    }
    signal(SIGPIPE, SIG_IGN);

    DaemonProcess daemon(options.daemon_binary);
    const std::string fifo = daemon.Dir() + "/recording.pcap";
    if (mkfifo(fifo.c_str(), 0600) != 0) {
        perror("mkfifo");
        return 1;
    }
    const uint16_t listen_port = static_cast<uint16_t>(daemon.ListenPort());
    EventCollector ui;

    RecordingReader recording;
    std::thread reader([&] { recording.Run(fifo, listen_port); });

    const std::string signatures = BenchCapturePath(
        "TESSARON_SIGNATURES", std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt");
    daemon.Start({"--no-card-control", "--listen", daemon.ListenOption(), "--ui", ui.Address(),
                  "--record", fifo, signatures, "out.log", "energy.log"});
    const pid_t pid = daemon.Pid();
    WaitForReceiveSocket(daemon, listen_port);
    DaemonFigures d;
    d.granted = GrantedReceiveBuffer(listen_port);
    d.drops_before = KernelDrops(listen_port);
    d.cpu_before = CpuTicks(pid);
    const SendFigures sent = SendAtRate(daemon, stream, options.seconds, options.rate);
    // Let the daemon finish what is queued, then read its figures.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    d.cpu_after = CpuTicks(pid);
    d.drops_after = KernelDrops(listen_port);
    d.hwm_kb = StatusKb(pid, "VmHWM:");
    d.rss_kb = StatusKb(pid, "VmRSS:");
    d.status = daemon.Stop(SIGTERM);
    reader.join();

    PrintFigures(sent, recording, d);
    if (ExitCode(d.status) != 0) {
        fprintf(stderr, "daemon stderr:\n%s", daemon.Stderr().c_str());
    }
    return 0;
}
