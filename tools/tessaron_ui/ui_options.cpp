#include "ui_options.h"

#include <arpa/inet.h>

#include <utility>

#include "command_line.h"
#include "event_json.h"
#include "host_port.h"

namespace tessaron_ui {

bool ParseHostPort(const std::string& text, HostPort* out) {
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(text, &host, &port)) {
        return false;
    }
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    in_addr addr;
    if (inet_pton(AF_INET, host.c_str(), &addr) != 1) {
        return false;
    }
    out->host = host;
    out->port = port;
    return true;
}

namespace {

// Options whose value is kept as given.
const std::pair<const char*, std::string UiOptions::*> kTextOptions[] = {
    {"--ui-dir", &UiOptions::ui_dir},
    {"--mqtt-user", &UiOptions::mqtt_user},
    {"--mqtt-password-file", &UiOptions::mqtt_password_file},
    {"--mqtt-cafile", &UiOptions::mqtt_ca_file}};

// Options naming an IPv4 address and port.
const std::pair<const char*, HostPort UiOptions::*> kAddressOptions[] = {
    {"--udp", &UiOptions::udp}, {"--http", &UiOptions::http}, {"--mqtt", &UiOptions::mqtt}};

// The field an option of the table sets; null when the table lacks it.
template <typename Field, size_t N>
Field UiOptions::*FieldOf(const std::pair<const char*, Field UiOptions::*> (&table)[N],
                          const std::string& name) {
    for (const auto& [option, field] : table) {
        if (name == option) {
            return field;
        }
    }
    return nullptr;
}

bool TakesValue(const std::string& name) {
    return name == "--sensor" || FieldOf(kTextOptions, name) != nullptr ||
           FieldOf(kAddressOptions, name) != nullptr;
}

bool TakeValue(const std::string& name, const std::string& value, UiOptions* options,
               std::string* error) {
    if (const auto text = FieldOf(kTextOptions, name)) {
        options->*text = value;
        return true;
    }
    if (name == "--sensor") {
        return TakeSensorName(value, &options->sensor, error);
    }
    HostPort& address = options->*FieldOf(kAddressOptions, name);
    // A broker has a port of its own; the listening ports may be picked.
    const bool needs_port = name == "--mqtt";
    if (!ParseHostPort(value, &address) || (needs_port && address.port == 0)) {
        *error = name + " needs ADDR:PORT with an IPv4 address, not '" + value + "'";
        return false;
    }
    return true;
}

}  // namespace

bool ParseUiOptions(const std::vector<std::string>& args, UiOptions* options, std::string* error) {
    const auto take = [options](const std::string& name, const std::string& value,
                                std::string* why) { return TakeValue(name, value, options, why); };
    return WalkOptions(args,
                       {{"--help", &options->help, false},
                        {"-h", &options->help, false},
                        {"--version", &options->version, false}},
                       TakesValue, take, error);
}

std::string UiUsage(const std::string& program) {
    return "Usage: " + program +
           " [options]\n\n"
           "Shows the daemon's devices, spectra, channel utilisation and air quality in a\n"
           "web page, with Prometheus metrics on /metrics.\n\n"
           "Options:\n" +
           OptionHelpLines(
               {{"--udp ADDR:PORT", "receive the daemon's UI events here (default 127.0.0.1:5000)"},
                {"--http ADDR:PORT",
                 "serve the page here (default 127.0.0.1:8080; port 0 picks one)"},
                {"--ui-dir DIR", "serve the page's files from DIR"},
                {"--sensor NAME", "name the daemon heard over UDP on the page (default local)"},
                {"--mqtt ADDR:PORT", "also show every sensor publishing to this MQTT broker"},
                {"--mqtt-user NAME", "log in to the broker as NAME"},
                {"--mqtt-password-file FILE", "with the password on the first line of FILE"},
                {"--mqtt-cafile FILE", "use TLS, checking the broker against this CA"},
                {"--help", "print this text and exit"},
                {"--version", "print the version and exit"}},
               18);
}

}  // namespace tessaron_ui
