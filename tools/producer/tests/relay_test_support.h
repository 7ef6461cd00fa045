// Builders of relay records for the producer's tests.
#ifndef TESSARON_PRODUCER_TESTS_RELAY_TEST_SUPPORT_H
#define TESSARON_PRODUCER_TESTS_RELAY_TEST_SUPPORT_H

#include <cstdint>
#include <vector>

#include "relay_decoder.h"

namespace relay_test {

struct Ht20Fields {
    uint16_t freq = 2437;
    uint64_t tsf = 1000;
    int8_t rssi = 20;
    int8_t noise = -95;
    uint8_t max_exp = 1;
};

// A type-1 record; bins[i] = first_bin + i unless bins are given. The
// payload is cut or padded to `length` bytes.
inline std::vector<uint8_t> Ht20Record(const Ht20Fields& f, const uint8_t* bins = nullptr,
                                       uint16_t length = relay::HT20_PAYLOAD_SIZE,
                                       uint8_t first_bin = 10) {
    std::vector<uint8_t> r = {relay::REPORT_HT20, static_cast<uint8_t>(length >> 8),
                              static_cast<uint8_t>(length)};
    r.push_back(f.max_exp);
    r.push_back(static_cast<uint8_t>(f.freq >> 8));
    r.push_back(static_cast<uint8_t>(f.freq));
    r.push_back(static_cast<uint8_t>(f.rssi));
    r.push_back(static_cast<uint8_t>(f.noise));
    r.push_back(0x01);  // max_magnitude
    r.push_back(0x20);
    r.push_back(31);  // max_index
    r.push_back(4);   // bitmap_weight
    for (int i = 7; i >= 0; i--) {
        r.push_back(static_cast<uint8_t>(f.tsf >> (8 * i)));
    }
    for (size_t i = 0; i < relay::HT20_BINS; i++) {
        r.push_back(bins ? bins[i] : static_cast<uint8_t>(first_bin + i));
    }
    r.resize(3 + length, 0xEE);
    return r;
}

// A record of any type with a payload of `length` bytes of `fill`.
inline std::vector<uint8_t> Record(uint8_t type, uint16_t length, uint8_t fill = 0x55) {
    std::vector<uint8_t> r = {type, static_cast<uint8_t>(length >> 8),
                              static_cast<uint8_t>(length)};
    r.resize(3 + length, fill);
    return r;
}

inline void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

class CollectingSink : public relay::ReportSink {
public:
    void OnReport(const relay::Ht20Report& r) override { reports.push_back(r); }
    void OnOutOfBand(const relay::Ht20Report& r) override { out_of_band.push_back(r); }
    std::vector<relay::Ht20Report> reports;
    std::vector<relay::Ht20Report> out_of_band;
};

}  // namespace relay_test

#endif
