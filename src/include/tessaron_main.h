// The daemon's outward face: UI event datagrams over UDP, the per-visit
// averaged channel spectrum, and the names of the output and energy logs.
#ifndef TESSARON_TESSARON_MAIN_H
#define TESSARON_TESSARON_MAIN_H

#include <netinet/in.h>

#include <string>
#include <vector>

#include "access_point.h"
#include "script_utils_module.h"

inline constexpr long NUM_SAMPLES_PER_FFT = 1000;  // most spectra in one channel event
inline constexpr uint16_t UI_EVENT_PORT = 5000;

// Destination of every UI event datagram (0.0.0.0 port 5000 in service).
extern sockaddr_in udp_servaddr;

class ExternalInterface {
public:
    static std::string outputLogFile;
    static std::string energyLogfileName;

    static void SendData(std::string data);
    static void UpdateUIFFT(const std::vector<float>& sub_band_rssi_list, AccessPoint* current_ap);
    static void SendUIFFT(AccessPoint* current_ap, float curr_freq);
    static void WriteToLogfile(const std::string& log_string);
    static void UpdateLogFileName(const std::string& log_file_name);
    static void UpdateEnergyLogFileName(const std::string& log_file_name);

    // Start-up helpers: create the UDP sending socket and address it to dest;
    // set the 56-bin channel average to zeros.
    static void InitSocket(const sockaddr_in& dest);
    // 0.0.0.0 port 5000, the UI server on this machine.
    static sockaddr_in DefaultUIDestination();
    static void InitUIAverage();
    // The "event: channel" text for the current average.
    static std::string BuildChannelEvent(u64 mac_time, float curr_freq);
    // Closes the socket and forgets the average, the channel and the log names.
    static void ResetForTests();
    static long GetCurrSampleCount();
    static float GetCurrFreq();
    static const std::vector<float>& GetUIAverage();
};

// The daemon: parses the command line, starts up and runs the receive loop
// (live or from a capture) until SIGINT/SIGTERM or the end of the capture.
// Returns the process exit status.
int TessaronMain(int argc, char** argv);

#endif
