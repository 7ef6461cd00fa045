#include "ui_options.h"

#include <arpa/inet.h>

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

bool ParseUiOptions(const std::vector<std::string>& args, UiOptions* options, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options->help = true;
            continue;
        }
        if (arg == "--version") {
            options->version = true;
            continue;
        }
        const bool known = arg == "--udp" || arg == "--http" || arg == "--ui-dir" ||
                           arg == "--sensor" || arg == "--mqtt" || arg == "--mqtt-user" ||
                           arg == "--mqtt-password-file" || arg == "--mqtt-cafile";
        if (!known) {
            *error = "unknown argument '" + arg + "'";
            return false;
        }
        if (i + 1 >= args.size()) {
            *error = arg + " needs a value";
            return false;
        }
        const std::string& value = args[++i];
        if (arg == "--ui-dir") {
            options->ui_dir = value;
        } else if (arg == "--sensor") {
            if (!IsValidSensorName(value)) {
                *error = "--sensor needs 1 to 64 letters, digits, '-', '_' or '.'";
                return false;
            }
            options->sensor = value;
        } else if (arg == "--mqtt-user") {
            options->mqtt_user = value;
        } else if (arg == "--mqtt-password-file") {
            options->mqtt_password_file = value;
        } else if (arg == "--mqtt-cafile") {
            options->mqtt_ca_file = value;
        } else if (arg == "--mqtt") {
            if (!ParseHostPort(value, &options->mqtt) || options->mqtt.port == 0) {
                *error = "--mqtt needs ADDR:PORT with an IPv4 address, not '" + value + "'";
                return false;
            }
        } else if (!ParseHostPort(value, arg == "--udp" ? &options->udp : &options->http)) {
            *error = arg + " needs ADDR:PORT with an IPv4 address, not '" + value + "'";
            return false;
        }
    }
    return true;
}

std::string UiUsage(const std::string& program) {
    return "Usage: " + program +
           " [options]\n\n"
           "Shows the daemon's devices, spectra, channel utilisation and air quality in a\n"
           "web page, with Prometheus metrics on /metrics.\n\n"
           "Options:\n"
           "  --udp ADDR:PORT   receive the daemon's UI events here (default 127.0.0.1:5000)\n"
           "  --http ADDR:PORT  serve the page here (default 127.0.0.1:8080; port 0 picks one)\n"
           "  --ui-dir DIR      serve the page's files from DIR\n"
           "  --sensor NAME     name the daemon heard over UDP on the page (default local)\n"
           "  --mqtt ADDR:PORT  also show every sensor publishing to this MQTT broker\n"
           "  --mqtt-user NAME  log in to the broker as NAME\n"
           "  --mqtt-password-file FILE  with the password on the first line of FILE\n"
           "  --mqtt-cafile FILE  use TLS, checking the broker against this CA\n"
           "  --help            print this text and exit\n"
           "  --version         print the version and exit\n";
}

}  // namespace tessaron_ui
