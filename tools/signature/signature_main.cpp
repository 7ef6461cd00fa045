// tessaron-signature: measures the spectral shape of a device transmitting
// alone and prints it as a record of the daemon's signature file.
//
//   tessaron-signature --id N --name NAME [--channel MHZ] [--window FIRST:LAST]
//                      [--port P] INPUT...
//
// Each INPUT (a capture of the spectrum datagrams, or an energy log) gives
// one shape; several recordings at different distances give several.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "signature.h"
#include "subband_analyser_class.h"

#ifdef TESSARON_HAVE_PCAP
#include <pcap/pcap.h>

#include "pcap_capture.h"
#endif

namespace {

const char kUsage[] =
    "usage: tessaron-signature --id N --name NAME [--channel MHZ] [--window FIRST:LAST]\n"
    "                          [--port P] INPUT...\n"
    "\n"
    "Each INPUT is a capture of the spectrum datagrams (pcap, as written by\n"
    "tessaron --record or tessaron-sim) or the daemon's energy log, recorded\n"
    "while the device transmitted alone; each gives one shape of the record.\n"
    "  --id N          device class number (1 analog phone, 3 video sender)\n"
    "  --name NAME     one word naming the device\n"
    "  --channel MHZ   channel to measure (default: the one with the strongest\n"
    "                  mean bin)\n"
    "  --window F:L    bin offsets around the peak (default -4:4 for id 1,\n"
    "                  -24:24 for id 3, else the device's band plus 2 bins)\n"
    "  --port P        UDP port of the datagrams in a capture (default 10000)\n";

struct Options {
    long id = -1;
    std::string name;
    long channel = 0;
    bool window_given = false;
    std::pair<int, int> window{0, 0};
    long port = CONST_SPECTRUM_PORT;
    std::vector<std::string> inputs;
};

bool WholeNumber(const char* text, long lo, long hi, long* out) {
    char* end = nullptr;
    *out = strtol(text, &end, 10);
    return end != text && *end == '\0' && *out >= lo && *out <= hi;
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--id" && has_value) {
            if (!WholeNumber(argv[++i], 0, 65535, &o->id)) {
                std::cerr << "tessaron-signature: --id wants a class number 0 to 65535\n";
                return false;
            }
        } else if (a == "--name" && has_value) {
            o->name = argv[++i];
        } else if (a == "--channel" && has_value) {
            if (!WholeNumber(argv[++i], 2400, 2500, &o->channel)) {
                std::cerr << "tessaron-signature: --channel wants a channel centre in MHz\n";
                return false;
            }
        } else if (a == "--window" && has_value) {
            int first = 0, last = 0;
            char tail = 0;
            if (sscanf(argv[++i], "%d:%d%c", &first, &last, &tail) != 2 || first > 0 || last < 0 ||
                last - first >= signature::BINS) {
                std::cerr << "tessaron-signature: --window wants FIRST:LAST with FIRST <= 0 <= "
                             "LAST, at most 56 bins\n";
                return false;
            }
            o->window = {first, last};
            o->window_given = true;
        } else if (a == "--port" && has_value) {
            if (!WholeNumber(argv[++i], 0, 65535, &o->port)) {
                std::cerr << "tessaron-signature: --port wants 0 to 65535\n";
                return false;
            }
        } else if (a.rfind("--", 0) == 0) {
            std::cerr << "tessaron-signature: unknown option or missing value: " << a << "\n";
            return false;
        } else {
            o->inputs.push_back(a);
        }
    }
    bool name_ok = !o->name.empty();
    for (const char c : o->name) {
        name_ok = name_ok && c > ' ' && c < 127;
    }
    if (o->id < 0 || !name_ok || o->inputs.empty()) {
        std::cerr << "tessaron-signature: --id, a one-word --name and at least one input are "
                     "needed\n";
        return false;
    }
    return true;
}

enum class Kind { kCapture, kEnergyLog, kUnknown };

Kind Sniff(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char head[9] = {};
    in.read(reinterpret_cast<char*>(head), sizeof(head));
    const std::streamsize n = in.gcount();
    if (n >= 4) {
        const uint32_t le =
            head[0] | head[1] << 8 | head[2] << 16 | static_cast<uint32_t>(head[3]) << 24;
        if (le == 0xa1b2c3d4 || le == 0xd4c3b2a1 || le == 0xa1b23c4d || le == 0x4d3cb2a1 ||
            le == 0x0a0d0d0a) {
            return Kind::kCapture;
        }
    }
    if (n >= 9 && memcmp(head, "SPECTRUM ", 9) == 0) {
        return Kind::kEnergyLog;
    }
    return Kind::kUnknown;
}

#ifdef TESSARON_HAVE_PCAP
bool ReadCapture(const std::string& path, uint16_t port, signature::SpectrumAverage& average,
                 signature::Warnings& warnings) {
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pcap = pcap_open_offline(path.c_str(), err);
    if (pcap == nullptr) {
        std::cerr << "tessaron-signature: cannot read capture " << path << ": " << err << "\n";
        return false;
    }
    const int linktype = pcap_datalink(pcap);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int rc;
    while ((rc = pcap_next_ex(pcap, &header, &data)) == 1) {
        const uint8_t* payload = nullptr;
        size_t len = 0;
        const PacketVerdict v =
            ExtractUdpPayload(linktype, data, header->caplen, header->len, port, &payload, &len);
        if (v == PacketVerdict::kDatagram) {
            signature::AddDatagram(payload, len, average, warnings);
        } else if (v == PacketVerdict::kTruncated) {
            warnings.Warn("truncated packets", path + ": packet cut short in the capture: dropped");
        }
    }
    if (rc == -1) {
        warnings.Warn("damaged captures", path + ": " + pcap_geterr(pcap) + " (read so far kept)");
    }
    pcap_close(pcap);
    return true;
}
#endif

bool ReadInput(const std::string& path, uint16_t port, signature::SpectrumAverage& average,
               signature::Warnings& warnings) {
    switch (Sniff(path)) {
        case Kind::kCapture:
#ifdef TESSARON_HAVE_PCAP
            return ReadCapture(path, port, average, warnings);
#else
            (void)port;
            std::cerr << "tessaron-signature: " << path
                      << " is a capture, and this build reads no captures (no libpcap)\n";
            return false;
#endif
        case Kind::kEnergyLog: {
            std::ifstream in(path, std::ios::binary);
            std::stringstream text;
            text << in.rdbuf();
            signature::AddEnergyLog(text.str(), average, warnings);
            return true;
        }
        case Kind::kUnknown:
            break;
    }
    std::cerr << "tessaron-signature: " << path
              << " is neither a capture nor an energy log (or cannot be read)\n";
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
    }
    Options o;
    if (!ParseOptions(argc, argv, &o)) {
        fputs(kUsage, stderr);
        return 2;
    }
    std::vector<signature::Shape> shapes;
    for (const std::string& path : o.inputs) {
        signature::SpectrumAverage average;
        signature::Warnings warnings;
        const bool read = ReadInput(path, static_cast<uint16_t>(o.port), average, warnings);
        std::cerr << warnings.Summary();
        if (!read) {
            return 1;
        }
        const uint16_t channel =
            o.channel != 0 ? static_cast<uint16_t>(o.channel) : average.StrongestChannel();
        if (average.Count(channel) == 0) {
            std::cerr << "tessaron-signature: " << path << ": no usable sample"
                      << (o.channel != 0 ? " on " + std::to_string(o.channel) + " MHz" : "")
                      << "\n";
            return 1;
        }
        const std::vector<double> mean = average.Mean(channel);
        signature::Shape shape;
        std::string error;
        const auto window =
            o.window_given ? o.window : signature::DefaultWindow(static_cast<int>(o.id), mean);
        if (!signature::MakeShape(mean, window, &shape, &error)) {
            std::cerr << "tessaron-signature: " << path << ": " << error << "\n";
            return 1;
        }
        fprintf(stderr, "%s: %d MHz, %llu samples, peak in bin %d at %.1f dBm, window %d..%d\n",
                path.c_str(), channel, static_cast<unsigned long long>(average.Count(channel)),
                shape.peak_bin, shape.peak_dbm, shape.first, shape.last);
        shapes.push_back(shape);
    }
    std::cout << signature::FormatRecord(static_cast<int>(o.id), o.name, shapes) << "\n";
    return 0;
}
