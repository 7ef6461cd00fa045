#include <cstdio>
#include <string>

#include "producer.h"

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "tessaron-producer";
    relay::ProducerOptions options;
    std::string error;
    if (!relay::ParseProducerOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "%s: %s\n%s", program.c_str(), error.c_str(),
                relay::ProducerUsage(program).c_str());
        return 2;
    }
    if (options.show_help) {
        fputs(relay::ProducerUsage(program).c_str(), stdout);
        return 0;
    }
    relay::ProducerSummary summary;
    return relay::RunProducer(options, &summary);
}
