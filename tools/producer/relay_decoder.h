// Decoder of the kernel's spectral-scan relay stream: a sequence of TLV
// records (1-byte type, big-endian 16-bit payload length, payload) as read
// from the driver's spectral_scan0 relay file or from a saved dump.
//
// The stream is treated as hostile: every length and frequency is checked,
// the decoder resynchronises on the next plausible header after garbage, and
// a bad record never costs a good one after it.
#ifndef TESSARON_PRODUCER_RELAY_DECODER_H
#define TESSARON_PRODUCER_RELAY_DECODER_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace relay {

inline constexpr uint8_t REPORT_HT20 = 1;     // 20 MHz report, 56 bins
inline constexpr uint8_t REPORT_HT20_40 = 2;  // 20/40 MHz report, 128 bins
inline constexpr uint8_t REPORT_VARIABLE_A = 3;
inline constexpr uint8_t REPORT_VARIABLE_B = 4;
inline constexpr size_t RECORD_HEADER_SIZE = 3;
inline constexpr size_t HT20_BINS = 56;
inline constexpr size_t HT20_FIELDS_SIZE = 17;
inline constexpr size_t HT20_PAYLOAD_SIZE = HT20_FIELDS_SIZE + HT20_BINS;  // 73
// The 2.4 GHz ISM band, channels 1 to 14; the daemon monitors nothing else.
inline constexpr uint16_t BAND_24_LOW_MHZ = 2400;
inline constexpr uint16_t BAND_24_HIGH_MHZ = 2500;

// One 20 MHz report. Bins run from the lowest frequency to the highest; the
// centre (DC) bin is bins[28].
struct Ht20Report {
    uint8_t max_exp;
    uint16_t freq;  // MHz
    int8_t rssi;    // dB above the card's noise floor
    int8_t noise;   // dBm
    uint16_t max_magnitude;
    uint8_t max_index;
    uint8_t bitmap_weight;
    uint64_t tsf;  // card time, us
    uint8_t bins[HT20_BINS];
};

enum class SkipReason {
    kOutOfBand,       // a 20 MHz report outside 2.4 GHz
    kHt2040,          // 20/40 MHz reports are not converted
    kVariableLength,  // newer chips' reports (types 3 and 4)
    kBadLength,       // a known type whose length fits no report of it
    kUnknownType,     // a whole record of a type this decoder does not know
    kTruncated,       // the stream ended inside a record
    kCount
};

const char* SkipReasonName(SkipReason reason);

struct DecoderCounters {
    uint64_t records = 0;      // records delimited, whatever their type
    uint64_t by_type[5] = {};  // [1]..[4] by type; [0] any other type
    uint64_t reports = 0;      // 20 MHz reports handed on
    uint64_t skipped[static_cast<int>(SkipReason::kCount)] = {};
    uint64_t one_byte_short = 0;  // repaired: a bin lost
    uint64_t overlong = 0;        // repaired: one or two trailing bytes dropped
    uint64_t garbage_bytes = 0;
    uint64_t garbage_runs = 0;

    uint64_t Skipped(SkipReason reason) const { return skipped[static_cast<int>(reason)]; }
    uint64_t SkippedTotal() const;
};

class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void OnReport(const Ht20Report& report) = 0;
    // A well-formed 20 MHz report outside 2.4 GHz, about to be skipped.
    virtual void OnOutOfBand(const Ht20Report& /*report*/) {}
};

class RelayDecoder {
public:
    // Decodes the records in data[0, len) and returns how many bytes it used.
    // The unused tail is an incomplete record: offer it again, with more data
    // after it. With at_end the stream is over and the whole input is used,
    // an incomplete tail counting as truncated.
    size_t Decode(const uint8_t* data, size_t len, bool at_end, ReportSink& sink);
    const DecoderCounters& Counters() const { return counters_; }
    // Warnings go to stderr unless silenced (tests, fuzzing).
    void SetQuiet(bool quiet) { quiet_ = quiet; }

private:
    enum class Confirm { kYes, kNo, kNeedMore };

    // Whether a record whose payload ends at `end` is followed by a plausible
    // header (or, at the end of the stream, by nothing).
    Confirm Confirmed(const uint8_t* data, size_t len, size_t end, bool at_end) const;
    void AcceptRecord(uint8_t type, uint16_t length, const uint8_t* payload, ReportSink& sink);
    void DecodeHt20(const uint8_t* payload, size_t length, ReportSink& sink);
    void Skip(SkipReason reason, unsigned value, unsigned length = 0);
    void Garbage();
    bool WarningDue(uint64_t occurrence) const;
    void Warn(uint64_t occurrence, const std::string& text) const;

    DecoderCounters counters_;
    // Out of sync a header is believed only when the next one confirms it;
    // a stream may start in the middle of a record.
    bool in_sync_ = false;
    bool in_garbage_ = false;
    bool quiet_ = false;
};

// Whether `length` can be the payload length of a record of `type`.
bool PlausibleHeader(uint8_t type, uint16_t length);

}  // namespace relay

#endif
