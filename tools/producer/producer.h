// tessaron-producer: reads the kernel's spectral-scan relay stream (live or a
// saved dump) and sends the daemon's spectrum datagrams, or writes them into
// a capture the daemon can replay.
#ifndef TESSARON_PRODUCER_PRODUCER_H
#define TESSARON_PRODUCER_PRODUCER_H

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

#include "relay_decoder.h"
#include "sample_mapper.h"

namespace relay {

struct ProducerOptions {
    std::string input;  // "-" is standard input
    bool follow = false;
    sockaddr_in to;  // default 127.0.0.1:10000
    std::string pcap_file;
    int flush_ms = 20;
    std::optional<int> noise_floor;
    bool show_help = false;
};

// Parses argv; on a usage error returns false with the reason in *error.
bool ParseProducerOptions(int argc, const char* const* argv, ProducerOptions* options,
                          std::string* error);
std::string ProducerUsage(const std::string& program);

struct ProducerSummary {
    DecoderCounters decoder;
    MapperCounters mapper;
    uint64_t datagrams = 0;
    uint64_t send_failures = 0;
};

// The stderr summary at exit.
std::string FormatProducerSummary(const ProducerSummary& summary);

// Runs until the input ends (or, with --follow, until SIGINT or SIGTERM),
// then prints the summary on stderr. Returns the exit status.
int RunProducer(const ProducerOptions& options, ProducerSummary* summary);

}  // namespace relay

#endif
