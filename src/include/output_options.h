// The daemon's optional outputs and their command-line options:
//   --sensor NAME            name of this sensor in every feed (default: host name)
//   --json FILE|-            JSON lines
//   --mqtt HOST:PORT         MQTT broker, with --mqtt-user, --mqtt-password-file,
//                            --mqtt-cafile, --mqtt-cert, --mqtt-key
// They are taken out of the command line before the daemon's own options are
// read, so the two parsers never need to know each other.
#ifndef TESSARON_OUTPUT_OPTIONS_H
#define TESSARON_OUTPUT_OPTIONS_H

#include <memory>
#include <string>
#include <vector>

#include "event_sink.h"
#include "json_lines_sink.h"
#ifdef TESSARON_HAVE_MQTT
#include "mqtt_sink.h"
#endif

struct OutputOptions {
    std::string sensor;  // empty: the host name
    std::string json_path;
    std::string mqtt_host;  // empty: no MQTT
    int mqtt_port = 1883;
    std::string mqtt_user;
    std::string mqtt_password_file;
    std::string mqtt_ca_file;
    std::string mqtt_cert_file;
    std::string mqtt_key_file;
};

// Removes the output options (and their values) from args, which holds the
// arguments after the program name, up to a "--". False with *error on a bad
// value.
bool TakeOutputOptions(std::vector<std::string>* args, OutputOptions* options, std::string* error);
std::string OutputUsageText();

// The host name made into a sensor name: characters a topic cannot carry
// become '-'.
std::string DefaultSensorName();

// The outputs named on the command line, started and owned here.
class DaemonOutputs {
public:
    ~DaemonOutputs();
    bool Start(const OutputOptions& options, std::string* error);
    // Delivers what is still queued and closes the outputs.
    void Stop();
    std::vector<EventSink*> Sinks() const;

private:
    std::unique_ptr<JsonLinesSink> json_;
#ifdef TESSARON_HAVE_MQTT
    std::unique_ptr<MqttSink> mqtt_;
    bool stopped_ = false;
#endif
};

// Runs daemon_main (the daemon's entry) with the outputs named on the
// command line installed for the whole run; the remaining arguments go to
// daemon_main unchanged. The entry is passed in, so the outputs depend on
// the core and never on the program that uses them.
int TessaronMainWithOutputs(int argc, char** argv, int (*daemon_main)(int, char**));

#endif
