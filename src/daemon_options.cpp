#include "daemon_options.h"

#include <arpa/inet.h>

#include <cstring>

#include "command_line.h"
#include "host_port.h"

namespace {

sockaddr_in AnyAddress(uint16_t port) {
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    return addr;
}

// Options that take a value, and where the value goes.
bool TakeValue(const std::string& name, const std::string& value, DaemonOptions* options,
               std::string* error) {
    if (name == "--listen" || name == "--ui") {
        sockaddr_in* target = name == "--listen" ? &options->listen_addr : &options->ui_addr;
        if (!ParseSocketAddress(value, target)) {
            *error = name + " needs ADDR:PORT, got '" + value + "'";
            return false;
        }
        return true;
    }
    if (name == "--replay") {
        options->replay_file = value;
        return true;
    }
    if (name == "--card-shell") {
        options->card_shell = value;
        return true;
    }
    if (name == "--rules") {
        if (!ParseRuleSetName(value, &options->rules)) {
            *error = "--rules needs 'standard' or 'refined', got '" + value + "'";
            return false;
        }
        return true;
    }
    options->record_file = value;  // --record
    return true;
}

bool TakesValue(const std::string& name) {
    return name == "--listen" || name == "--ui" || name == "--replay" || name == "--record" ||
           name == "--card-shell" || name == "--rules";
}

// Options without a value, and the setting each one makes.
struct Flag {
    const char* name;
    bool DaemonOptions::*field;
    bool value;
};
constexpr Flag kFlags[] = {{"--help", &DaemonOptions::show_help, true},
                           {"--version", &DaemonOptions::show_version, true},
                           {"--realtime", &DaemonOptions::realtime, true},
                           {"--no-card-control", &DaemonOptions::card_control, false},
                           {"--card-clock", &DaemonOptions::card_clock, true}};

bool SetFlag(const std::string& name, DaemonOptions* options) {
    for (const Flag& flag : kFlags) {
        if (name == flag.name) {
            options->*flag.field = flag.value;
            return true;
        }
    }
    return false;
}

// The "--name" or "--name=value" argument at argv[*i]; an option that takes
// a value without '=' takes the next argument as well.
bool TakeOption(int argc, const char* const* argv, int* i, DaemonOptions* options,
                std::string* error) {
    std::string arg = argv[*i];
    std::string value;
    const size_t equals = arg.find('=');
    const bool has_inline_value = equals != std::string::npos;
    if (has_inline_value) {
        value = arg.substr(equals + 1);
        arg = arg.substr(0, equals);
    }
    if (TakesValue(arg)) {
        if (!has_inline_value) {
            if (*i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            value = argv[++*i];
        }
        return TakeValue(arg, value, options, error);
    }
    if (has_inline_value) {
        *error = arg + " takes no value";
        return false;
    }
    if (!SetFlag(arg, options)) {
        *error = "unknown option " + arg;
        return false;
    }
    return true;
}

// The positional arguments' count, and the options that go together.
bool CheckArguments(const DaemonOptions& options, std::string* error) {
    const size_t count = options.positional.size() - 1;
    if (count == 0) {
        *error = "the signature file is required";
    } else if (count == 4) {
        *error = "<phy-device> needs <wlan-interface> too";
    } else if (count > 5) {
        *error = "unexpected argument '" + options.positional[6] + "'";
    } else if (options.realtime && options.replay_file.empty()) {
        *error = "--realtime goes with --replay";
    } else if (!options.record_file.empty() && !options.replay_file.empty()) {
        *error = "--record records live reception; it does not go with --replay";
    } else {
        return true;
    }
    return false;
}

}  // namespace

bool ParseSocketAddress(const std::string& text, sockaddr_in* addr) {
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(text, &host, &port)) {
        return false;
    }
    sockaddr_in parsed;
    memset(&parsed, 0, sizeof(parsed));
    parsed.sin_family = AF_INET;
    parsed.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &parsed.sin_addr) != 1) {
        return false;
    }
    *addr = parsed;
    return true;
}

bool ParseDaemonOptions(int argc, const char* const* argv, DaemonOptions* options,
                        std::string* error) {
    options->listen_addr = AnyAddress(10000);
    options->ui_addr = AnyAddress(5000);
    options->positional.assign(1, argc > 0 ? argv[0] : "tessaron");
    int i = 1;
    for (; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--") {
            i++;
            break;
        }
        if (arg == "-h") {
            options->show_help = true;
            continue;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            break;
        }
        if (!TakeOption(argc, argv, &i, options, error)) {
            return false;
        }
    }
    for (; i < argc; i++) {
        options->positional.push_back(argv[i]);
    }
    return options->show_help || options->show_version || CheckArguments(*options, error);
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [options] <signature-file> [<log-file> [<energy-log-file> [<phy-device> "
           "<wlan-interface>]]]\n"
           "\n"
           "Finds and names the non-Wi-Fi radios of the 2.4 GHz band from spectral-scan\n"
           "datagrams.\n"
           "\n"
           "Options:\n" +
           OptionHelpLines(
               {{"--listen ADDR:PORT", "receive spectrum datagrams here (default 0.0.0.0:10000)"},
                {"--ui ADDR:PORT", "send UI events here (default 0.0.0.0:5000)"},
                {"--replay FILE", "analyse a pcap/pcapng capture ('-' for standard input)"},
                {"--realtime", "with --replay, pace packets by their capture times"},
                {"--record FILE", "also write every received datagram to a pcap file"},
                {"--no-card-control", "do not step the card through channels"},
                {"--card-clock",
                 "take host times from the samples' card clock, so that a\n"
                 "live run repeats exactly (comparing builds)"},
                {"--card-shell PROG",
                 "run card-control commands through PROG: a shell (a name\n"
                 "ending in sh) as PROG -c '<command>', any other program\n"
                 "as PROG '<command>' (default /bin/sh, else /system/bin/sh)"},
                {"--rules SET",
                 "classification rules: 'standard' (default) or 'refined'\n"
                 "(noise-following pulse floor, sample-interval timing,\n"
                 "oven on-phases, carrier-width rules)"},
                {"-h, --help", "print this text and exit"},
                {"--version", "print the version and exit"}},
               20);
}
