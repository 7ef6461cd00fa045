// Command line of the daemon: options first, then the positional arguments
// <signature-file> [<log-file> [<energy-log-file> [<phy-device> <wlan-interface>]]].
#ifndef TESSARON_DAEMON_OPTIONS_H
#define TESSARON_DAEMON_OPTIONS_H

#include <netinet/in.h>

#include <string>
#include <vector>

#include "rule_set.h"

struct DaemonOptions {
    sockaddr_in listen_addr;  // spectrum datagrams, default 0.0.0.0:10000
    sockaddr_in ui_addr;      // UI events, default 0.0.0.0:5000
    std::string replay_file;  // empty: live reception
    bool realtime = false;
    std::string record_file;
    bool card_control = true;
    bool card_clock = false;  // host times from the samples' card clock
    std::string card_shell;   // runs card-control commands instead of /bin/sh
    RuleSetId rules = RuleSetId::kStandard;  // --rules
    bool show_help = false;
    bool show_version = false;
    // argv[0] followed by the positional arguments, so that positional i is
    // positional[i] exactly as on the plain command line.
    std::vector<std::string> positional;
};

// Parses argv. On a usage error returns false and puts the reason in *error.
bool ParseDaemonOptions(int argc, const char* const* argv, DaemonOptions* options,
                        std::string* error);
// "ADDR:PORT" with a dotted IPv4 address and a port 0..65535.
bool ParseSocketAddress(const std::string& text, sockaddr_in* addr);
std::string UsageText(const std::string& program);

#endif
