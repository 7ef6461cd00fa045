// An MQTT message as any publisher on the broker might send it: parsed as an
// event; whatever parses must format and parse again to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "event_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    ParsedEvent event;
    std::string error;
    if (!ParseEventJson(text, &event, &error)) {
        return 0;
    }
    const EventStamp stamp{event.sensor, {1700000000, 0}};
    std::string again;
    switch (event.type) {
        case ParsedEvent::Type::Device:
            again = DeviceEventJson(event.device, stamp);
            break;
        case ParsedEvent::Type::Spectrum:
            again = ChannelSpectrumJson(event.Spectrum(), stamp);
            break;
        case ParsedEvent::Type::Utilisation:
            again = ChannelUtilisationJson(event.utilisation, stamp);
            break;
    }
    ParsedEvent back;
    if (!ParseEventJson(again, &back, &error) || back.type != event.type ||
        back.device.classification != event.device.classification ||
        back.db_below_mw.size() != event.db_below_mw.size()) {
        abort();
    }
    return 0;
}
