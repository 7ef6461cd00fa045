#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

// Splits "HOST:PORT" at the last colon. The host must not be empty and the
// port must be 1 to 5 decimal digits no larger than 65535 (0 is allowed here;
// callers that cannot bind or connect to it reject it themselves). The host is
// not checked: each caller knows which names or addresses it can reach.
inline bool SplitHostPort(const std::string& text, std::string* host, uint16_t* port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    const std::string port_text = text.substr(colon + 1);
    if (port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long value = std::strtol(port_text.c_str(), nullptr, 10);
    if (value > 65535) {
        return false;
    }
    *host = text.substr(0, colon);
    *port = static_cast<uint16_t>(value);
    return true;
}
