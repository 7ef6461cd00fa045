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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return BenchUsage(argv[0], kArguments);
    }
    // The daemon runs in a working directory of its own.
    char* daemon_path = realpath(argv[1], nullptr);
    if (daemon_path == nullptr) {
        perror(argv[1]);
        return 1;
    }
    const std::string daemon_binary = daemon_path;
    free(daemon_path);
    const std::string capture = argv[2];
    double seconds = 60.0;
    double rate = 17857.0;
    for (int i = 3; i < argc; i++) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (strcmp(argv[i], "--rate") == 0 && i + 1 < argc) {
            rate = atof(argv[++i]);
        } else {
            return BenchUsage(argv[0], kArguments);
        }
    }
    BenchStream stream;
    if (!LoadCaptureStream(capture, &stream)) {
        return 1;
    }
    signal(SIGPIPE, SIG_IGN);

    DaemonProcess daemon(daemon_binary);
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

    // The receive socket exists once it shows in /proc/net/udp.
    for (int waited = 0; ProcNetUdpLine(listen_port).empty(); waited += 10) {
        if (waited > 10000) {
            fprintf(stderr, "the daemon did not open its port; see %s\n", daemon.Dir().c_str());
            daemon.Stop(SIGKILL);
            _exit(1);  // the FIFO reader may never see a writer; keeps the directory
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const long granted = GrantedReceiveBuffer(listen_port);
    const long drops_before = KernelDrops(listen_port);

    const uint64_t total = static_cast<uint64_t>(seconds * rate);
    const double ns_per_datagram = 1e9 / rate;
    uint64_t sent = 0;
    uint64_t send_errors = 0;
    size_t next = 0;
    const long cpu_before = CpuTicks(pid);
    const auto start = Clock::now();
    while (sent < total) {
        const double elapsed_ns =
            std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        const uint64_t due =
            std::min<uint64_t>(total, static_cast<uint64_t>(elapsed_ns / ns_per_datagram) + 1);
        while (sent < due) {
            if (next == stream.datagrams.size()) {
                AdvanceStream(&stream);
                next = 0;
            }
            WireDatagram& wire = stream.datagrams[next];
            SetSeq(wire, sent);
            if (!daemon.Send(wire.data(), wire.size())) {
                send_errors++;
                continue;  // the producer tries the same datagram again
            }
            next++;
            sent++;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const double send_s = std::chrono::duration<double>(Clock::now() - start).count();
    // Let the daemon finish what is queued, then read its figures.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const long cpu_after = CpuTicks(pid);
    const long drops_after = KernelDrops(listen_port);
    const long hwm_kb = StatusKb(pid, "VmHWM:");
    const long rss_kb = StatusKb(pid, "VmRSS:");
    const int status = daemon.Stop(SIGTERM);
    reader.join();

    const uint64_t received = recording.received;
    const uint64_t tail_lost = recording.any && recording.last_seq + 1 < sent
                                   ? sent - recording.last_seq - 1
                                   : (recording.any ? 0 : sent);
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    printf("sent %llu\n", static_cast<unsigned long long>(sent));
    printf("send_seconds %.2f\n", send_s);
    printf("send_rate %.0f\n", static_cast<double>(sent) / send_s);
    printf("send_errors %llu\n", static_cast<unsigned long long>(send_errors));
    printf("received %llu\n", static_cast<unsigned long long>(received));
    printf("lost %llu\n", static_cast<unsigned long long>(recording.gaps + tail_lost));
    printf("out_of_order %llu\n", static_cast<unsigned long long>(recording.out_of_order));
    printf("kernel_drops %ld\n",
           drops_before >= 0 && drops_after >= 0 ? drops_after - drops_before : -1);
    printf("rcvbuf_granted %ld\n", granted);
    printf("peak_rss_kb %ld\n", hwm_kb);
    printf("final_rss_kb %ld\n", rss_kb);
    printf("daemon_cpu_percent %.1f\n",
           cpu_before >= 0 && cpu_after >= 0
               ? 100.0 * static_cast<double>(cpu_after - cpu_before) / ticks / (send_s + 1.5)
               : -1.0);
    printf("daemon_exit %d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "daemon stderr:\n%s", daemon.Stderr().c_str());
    }
    return 0;
}
