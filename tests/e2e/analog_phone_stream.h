// A strong continuous narrow carrier at 2442 MHz (an analog cordless phone),
// streamed to a live daemon in real time until the UI hears it named.
#ifndef TESSARON_TESTS_E2E_ANALOG_PHONE_STREAM_H
#define TESSARON_TESTS_E2E_ANALOG_PHONE_STREAM_H

#include "daemon_process.h"
#include "stream_builder.h"

// Device lifetimes are host seconds: one sample per millisecond of card
// time, sent as time passes, until the announcement or 8 s.
inline bool StreamAnalogPhoneUntilAnnounced(DaemonProcess& daemon, EventCollector& ui) {
    PowerRow carrier = FlatRow(-95.0f);
    carrier[33] = -48.0f;
    carrier[32] = -61.0f;
    carrier[34] = -61.0f;
    const auto start = std::chrono::steady_clock::now();
    uint64_t t = 1000;
    bool announced = false;
    while (!announced && std::chrono::steady_clock::now() - start < std::chrono::seconds(8)) {
        StreamBuilder stream;
        t = stream.AddRun(2442, t, 70, 1000, carrier);  // 70 ms of card time
        daemon.SendAll(stream.Take());
        std::this_thread::sleep_until(start + std::chrono::microseconds(t));
        announced = ui.WaitFor("\"Analog_Phone\"", 0);
    }
    return announced;
}

#endif
