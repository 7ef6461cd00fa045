// Command line of tessaron-ui.
#ifndef TESSARON_UI_UI_OPTIONS_H
#define TESSARON_UI_UI_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace tessaron_ui {

struct HostPort {
    std::string host;  // dotted IPv4
    std::uint16_t port = 0;
};

struct UiOptions {
    HostPort udp{"127.0.0.1", 5000};
    HostPort http{"127.0.0.1", 8080};
    std::string ui_dir;            // empty: the installed page, else the source tree's
    std::string sensor = "local";  // the daemon heard over UDP
    // MQTT broker carrying tessaron/<sensor>/... of many daemons; empty: none.
    HostPort mqtt;
    std::string mqtt_user;
    std::string mqtt_password_file;
    std::string mqtt_ca_file;
    bool help = false;
    bool version = false;
};

// "ADDR:PORT" with a dotted IPv4 address (or "localhost") and a port 0-65535.
bool ParseHostPort(const std::string& text, HostPort* out);

// Parses argv[1..]; on failure returns false with the reason in *error.
bool ParseUiOptions(const std::vector<std::string>& args, UiOptions* options, std::string* error);

std::string UiUsage(const std::string& program);

}  // namespace tessaron_ui

#endif  // TESSARON_UI_UI_OPTIONS_H
