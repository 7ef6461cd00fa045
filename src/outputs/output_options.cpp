#include "output_options.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <utility>

#include "command_line.h"
#include "host_clock.h"
#include "host_port.h"

namespace {

bool ParseBroker(const std::string& text, OutputOptions* options) {
    std::string host;
    uint16_t port = 0;
    if (!SplitHostPort(text, &host, &port) || port == 0) {
        return false;
    }
    if (host.find_first_of(" /\\") != std::string::npos) {
        return false;
    }
    options->mqtt_host = host;
    options->mqtt_port = port;
    return true;
}

// Options whose value is kept as given.
const std::pair<const char*, std::string OutputOptions::*> kTextOptions[] = {
    {"--json", &OutputOptions::json_path},
    {"--mqtt-user", &OutputOptions::mqtt_user},
    {"--mqtt-password-file", &OutputOptions::mqtt_password_file},
    {"--mqtt-cafile", &OutputOptions::mqtt_ca_file},
    {"--mqtt-cert", &OutputOptions::mqtt_cert_file},
    {"--mqtt-key", &OutputOptions::mqtt_key_file}};

// The field a text option fills; null for any other name.
std::string OutputOptions::*TextField(const std::string& name) {
    for (const auto& [option, field] : kTextOptions) {
        if (name == option) {
            return field;
        }
    }
    return nullptr;
}

// Every output option takes a value: these two are checked, the rest kept.
bool IsOutputOption(const std::string& name) {
    return name == "--sensor" || name == "--mqtt" || TextField(name) != nullptr;
}

bool Assign(const std::string& name, const std::string& value, OutputOptions* o,
            std::string* error) {
    if (value.empty()) {
        *error = name + " needs a value";
        return false;
    }
    if (name == "--sensor") {
        return TakeSensorName(value, &o->sensor, error);
    }
    if (name == "--mqtt") {
        if (!ParseBroker(value, o)) {
            *error = "--mqtt needs HOST:PORT, got '" + value + "'";
            return false;
        }
        return true;
    }
    o->*TextField(name) = value;
    return true;
}

void HostTime(timeval* t) {
    GetHostTime(t);
}

}  // namespace

bool TakeOutputOptions(std::vector<std::string>* args, OutputOptions* options, std::string* error) {
    std::vector<std::string> rest;
    size_t i = 0;
    for (; i < args->size(); ++i) {
        const std::string& arg = (*args)[i];
        if (arg == "--") {
            break;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        if (!IsOutputOption(name)) {
            rest.push_back(arg);
            continue;
        }
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args->size()) {
            value = (*args)[++i];
        }
        if (!Assign(name, value, options, error)) {
            return false;
        }
    }
    rest.insert(rest.end(), args->begin() + static_cast<long>(i), args->end());
    *args = rest;
    const bool mqtt_extras = !options->mqtt_user.empty() || !options->mqtt_password_file.empty() ||
                             !options->mqtt_ca_file.empty() || !options->mqtt_cert_file.empty() ||
                             !options->mqtt_key_file.empty();
    if (mqtt_extras && options->mqtt_host.empty()) {
        *error = "the --mqtt-* options go with --mqtt HOST:PORT";
        return false;
    }
    if (options->mqtt_cert_file.empty() != options->mqtt_key_file.empty()) {
        *error = "--mqtt-cert and --mqtt-key go together";
        return false;
    }
    return true;
}

std::string OutputUsageText() {
    return "\n"
           "Outputs (events as JSON, see docs/events.md):\n" +
           OptionHelpLines(
               {{"--sensor NAME", "name of this sensor in the feeds (default: the host name)"},
                {"--json FILE", "append one JSON object per event to FILE ('-': standard output)"},
                {"--mqtt HOST:PORT", "publish to an MQTT broker under tessaron/<sensor>/"},
                {"--mqtt-user NAME", "log in to the broker as NAME"},
                {"--mqtt-password-file FILE", "with the password on the first line of FILE"},
                {"--mqtt-cafile FILE", "use TLS and check the broker against this CA"},
                {"--mqtt-cert FILE", "client certificate for TLS (with --mqtt-key)"},
                {"--mqtt-key FILE", "its private key"}},
               20);
}

std::string DefaultSensorName() {
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) != 0 || host[0] == '\0') {
        return "sensor";
    }
    std::string name = std::string(host).substr(0, 64);
    for (char& c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok) {
            c = '-';
        }
    }
    return name;
}

DaemonOutputs::~DaemonOutputs() {
    Stop();
}

bool DaemonOutputs::Start(const OutputOptions& options, std::string* error) {
    const std::string sensor = options.sensor.empty() ? DefaultSensorName() : options.sensor;
    if (!options.json_path.empty()) {
        json_.reset(new JsonLinesSink(sensor, HostTime));
        if (!json_->Open(options.json_path, error)) {
            return false;
        }
    }
    if (options.mqtt_host.empty()) {
        return true;
    }
#ifdef TESSARON_HAVE_MQTT
    MqttOptions mqtt;
    mqtt.host = options.mqtt_host;
    mqtt.port = options.mqtt_port;
    mqtt.sensor = sensor;
    mqtt.username = options.mqtt_user;
    if (!options.mqtt_password_file.empty()) {
        std::ifstream in(options.mqtt_password_file);
        if (!in || !std::getline(in, mqtt.password)) {
            *error = "cannot read the MQTT password from '" + options.mqtt_password_file + "'";
            return false;
        }
    }
    mqtt.tls_ca_file = options.mqtt_ca_file;
    mqtt.tls_cert_file = options.mqtt_cert_file;
    mqtt.tls_key_file = options.mqtt_key_file;
    mqtt_.reset(new MqttSink(mqtt, HostTime));
    return mqtt_->Start(error);
#else
    *error = "this build has no MQTT output (configured without libmosquitto)";
    return false;
#endif
}

void DaemonOutputs::Stop() {
#ifdef TESSARON_HAVE_MQTT
    if (mqtt_ && !stopped_) {
        stopped_ = true;
        mqtt_->Stop();
        const MqttCounters c = mqtt_->Counters();
        std::cerr << "MQTT: " << c.queued << " events, " << c.published << " published, "
                  << c.dropped << " dropped; " << c.connects << " connections, " << c.outages
                  << " outages\n";
    }
#endif
}

std::vector<EventSink*> DaemonOutputs::Sinks() const {
    std::vector<EventSink*> sinks;
    if (json_) {
        sinks.push_back(json_.get());
    }
#ifdef TESSARON_HAVE_MQTT
    if (mqtt_) {
        sinks.push_back(mqtt_.get());
    }
#endif
    return sinks;
}

int TessaronMainWithOutputs(int argc, char** argv, int (*daemon_main)(int, char**)) {
    const std::string program = argc > 0 ? argv[0] : "tessaron";
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    OutputOptions options;
    std::string error;
    if (!TakeOutputOptions(&args, &options, &error)) {
        std::cerr << program << ": " << error << "\n";
        return 2;
    }
    const bool help = std::find(args.begin(), args.end(), "--help") != args.end();
    DaemonOutputs outputs;
    if (!help && !outputs.Start(options, &error)) {
        std::cerr << program << ": " << error << "\n";
        return 1;
    }
    std::vector<char*> rest = {argv[0]};
    for (std::string& arg : args) {
        rest.push_back(&arg[0]);
    }
    rest.push_back(nullptr);
    for (EventSink* sink : outputs.Sinks()) {
        EventSinks::Install(sink);
    }
    const int status = daemon_main(static_cast<int>(rest.size() - 1), rest.data());
    for (EventSink* sink : outputs.Sinks()) {
        EventSinks::Remove(sink);
    }
    outputs.Stop();
    if (help) {
        std::cout << OutputUsageText();
    }
    return status;
}
