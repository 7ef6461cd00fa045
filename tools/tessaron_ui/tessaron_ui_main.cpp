// tessaron-ui: relays the daemon's UI events to a web page.
#include <csignal>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "ui_options.h"
#include "ui_server.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void RequestStop(int) {
    stop_requested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "tessaron-ui";
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tessaron_ui::UiOptions options;
    std::string error;
    if (!tessaron_ui::ParseUiOptions(args, &options, &error)) {
        std::cerr << "tessaron-ui: " << error << "\n" << tessaron_ui::UiUsage(program);
        return 2;
    }
    if (options.help) {
        std::cout << tessaron_ui::UiUsage(program);
        return 0;
    }
    if (options.version) {
        std::cout << "tessaron-ui " << TESSARON_UI_VERSION << "\n";
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);

    tessaron_ui::UiServer server(options);
    if (!server.Start(&error)) {
        std::cerr << "tessaron-ui: " << error << "\n";
        return 1;
    }
    std::cout << "tessaron-ui: receiving UI events on udp " << options.udp.host << ":"
              << server.udp_port() << "\n"
              << "tessaron-ui: serving http://" << options.http.host << ":" << server.http_port()
              << "/ from " << server.ui_dir() << std::endl;
    while (!stop_requested) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    server.Stop();
    std::cout << "tessaron-ui: stopped" << std::endl;
    return 0;
}
