// The daemon's outward face: UI event datagrams over UDP, the per-visit
// averaged channel spectrum, and the names of the output and energy logs.
#ifndef TESSARON_TESSARON_MAIN_H
#define TESSARON_TESSARON_MAIN_H

#include <netinet/in.h>

#include <string>
#include <vector>

#include "event_sink.h"
#include "script_utils_module.h"

inline constexpr uint16_t UI_EVENT_PORT = 5000;

// Destination of every UI event datagram (0.0.0.0 port 5000 in service).
extern sockaddr_in udp_servaddr;

// The UI output: every event goes out as one UDP datagram carrying the UI's
// event text, and ended devices are appended to the output log. One instance
// is installed as an event sink at start-up.
class ExternalInterface : public EventSink {
public:
    static std::string outputLogFile;

    void OnDevice(const DeviceEventRecord& device) override;
    void OnChannelSpectrum(const ChannelSpectrumRecord& spectrum) override;
    void OnChannelUtilisation(const ChannelUtilisationRecord& survey) override;
    void OnLogLine(const std::string& line) override;

    // The instance the daemon installs.
    static ExternalInterface& Instance();

    static void SendData(const std::string& data);
    static void WriteToLogfile(const std::string& log_string);
    static void UpdateLogFileName(const std::string& log_file_name);

    // Start-up helpers: create the UDP sending socket, address it to dest and
    // install the UI output.
    static void InitSocket(const sockaddr_in& dest);
    // 0.0.0.0 port 5000, the UI server on this machine.
    static sockaddr_in DefaultUIDestination();
    // Uninstalls the output, closes the socket and forgets the channel visit
    // and the log names.
    static void ResetForTests();
};

// The daemon: parses the command line, starts up and runs the receive loop
// (live or from a capture) until SIGINT/SIGTERM or the end of the capture.
// Returns the process exit status.
int TessaronMain(int argc, char** argv);

#endif
