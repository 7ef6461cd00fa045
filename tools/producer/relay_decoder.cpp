#include "relay_decoder.h"

#include <cstdio>
#include <cstring>

namespace relay {

namespace {

// The driver repairs 20 MHz reports that come one byte short or up to two
// bytes long from the hardware; such lengths are accepted here too.
constexpr uint16_t HT20_MIN_PAYLOAD = HT20_PAYLOAD_SIZE - 1;
constexpr uint16_t HT20_MAX_PAYLOAD = HT20_PAYLOAD_SIZE + 2;
// A 20/40 MHz report is 128 bins behind a header of a few tens of bytes.
constexpr uint16_t HT20_40_MIN_PAYLOAD = 128;
constexpr uint16_t HT20_40_MAX_PAYLOAD = 200;
// Variable-length reports: a header and up to 512 bins, well within 2 KiB.
constexpr uint16_t VARIABLE_MIN_PAYLOAD = 16;
constexpr uint16_t VARIABLE_MAX_PAYLOAD = 2048;
// A record of an unknown type, or of a known type with an impossible length,
// is skipped whole only when no longer than this and followed by a plausible
// header; otherwise its first byte is garbage.
constexpr uint16_t MAX_SKIPPABLE_PAYLOAD = 2048;

uint16_t ReadBe16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint64_t ReadBe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; i++) {
        v = (v << 8) | p[i];
    }
    return v;
}

bool InBand(uint16_t freq) {
    return freq >= BAND_24_LOW_MHZ && freq <= BAND_24_HIGH_MHZ;
}

// A 20 MHz report from a working card: a Wi-Fi channel at 2.4 or 5 GHz and a
// noise floor that is not positive. Random bytes pass this about once in
// two hundred tries, on top of the header's one in four million.
bool PlausibleHt20Fields(const uint8_t* payload) {
    const uint16_t freq = ReadBe16(payload + 1);
    const auto noise = static_cast<int8_t>(payload[4]);
    const bool channel = InBand(freq) || (freq >= 4900 && freq <= 5925);
    return channel && noise <= 0;
}

}  // namespace

const char* SkipReasonName(SkipReason reason) {
    // In the order of SkipReason.
    static const char* const names[] = {
        "outside 2.4 GHz", "20/40 MHz reports", "variable-length reports",
        "wrong length",    "unknown type",      "truncated"};
    static_assert(sizeof(names) / sizeof(names[0]) == static_cast<size_t>(SkipReason::kCount),
                  "a name for every reason");
    const auto i = static_cast<size_t>(reason);
    return i < static_cast<size_t>(SkipReason::kCount) ? names[i] : "?";
}

uint64_t DecoderCounters::SkippedTotal() const {
    uint64_t total = 0;
    for (const uint64_t n : skipped) {
        total += n;
    }
    return total;
}

bool PlausibleHeader(uint8_t type, uint16_t length) {
    switch (type) {
        case REPORT_HT20:
            return length >= HT20_MIN_PAYLOAD && length <= HT20_MAX_PAYLOAD;
        case REPORT_HT20_40:
            return length >= HT20_40_MIN_PAYLOAD && length <= HT20_40_MAX_PAYLOAD;
        case REPORT_VARIABLE_A:
        case REPORT_VARIABLE_B:
            return length >= VARIABLE_MIN_PAYLOAD && length <= VARIABLE_MAX_PAYLOAD;
        default:
            return false;
    }
}

RelayDecoder::Confirm RelayDecoder::Confirmed(const uint8_t* data, size_t len, size_t end,
                                              bool at_end) const {
    // Until the next header has arrived the record waits, so that where the
    // reads of a growing file happen to end never changes the outcome.
    if (len - end < RECORD_HEADER_SIZE) {
        return at_end ? Confirm::kYes : Confirm::kNeedMore;
    }
    return PlausibleHeader(data[end], ReadBe16(data + end + 1)) ? Confirm::kYes : Confirm::kNo;
}

size_t RelayDecoder::Decode(const uint8_t* data, size_t len, bool at_end, ReportSink& sink) {
    size_t p = 0;
    while (len - p >= RECORD_HEADER_SIZE) {
        const uint8_t type = data[p];
        const uint16_t length = ReadBe16(data + p + 1);
        const size_t end = p + RECORD_HEADER_SIZE + length;
        const bool plausible = PlausibleHeader(type, length);
        // In step with the stream, a header that fits no report may still
        // delimit a whole record of a type we do not convert.
        const bool skippable = in_sync_ && length <= MAX_SKIPPABLE_PAYLOAD;
        if (!plausible && !skippable) {
            Garbage();
            p++;
            continue;
        }
        if (end > len) {
            if (!at_end) {
                return p;  // wait for the rest of the record
            }
            if (plausible) {
                break;  // the stream stops inside this record
            }
            Garbage();
            p++;
            continue;
        }
        // Only a plausible header right after a good record is believed on
        // its own; anything else needs the next header to agree, or, for a
        // 20 MHz report, fields that make sense (a report between two runs
        // of garbage is still a good report).
        const bool self_evident =
            plausible && type == REPORT_HT20 && PlausibleHt20Fields(data + p + RECORD_HEADER_SIZE);
        if (!(plausible && in_sync_) && !self_evident) {
            const Confirm next = Confirmed(data, len, end, at_end);
            if (next == Confirm::kNeedMore) {
                return p;
            }
            if (next == Confirm::kNo) {
                Garbage();
                p++;
                continue;
            }
        }
        AcceptRecord(type, length, data + p + RECORD_HEADER_SIZE, sink);
        p = end;
    }
    if (at_end && p < len) {
        Skip(SkipReason::kTruncated, static_cast<unsigned>(len - p));
        p = len;
    }
    return p;
}

void RelayDecoder::AcceptRecord(uint8_t type, uint16_t length, const uint8_t* payload,
                                ReportSink& sink) {
    counters_.records++;
    counters_.by_type[type <= REPORT_VARIABLE_B ? type : 0]++;
    in_sync_ = true;
    in_garbage_ = false;
    if (!PlausibleHeader(type, length)) {
        const bool known = type >= REPORT_HT20 && type <= REPORT_VARIABLE_B;
        Skip(known ? SkipReason::kBadLength : SkipReason::kUnknownType, type, length);
    } else if (type == REPORT_HT20) {
        DecodeHt20(payload, length, sink);
    } else if (type == REPORT_HT20_40) {
        Skip(SkipReason::kHt2040, type);
    } else {
        Skip(SkipReason::kVariableLength, type);
    }
}

void RelayDecoder::DecodeHt20(const uint8_t* payload, size_t length, ReportSink& sink) {
    Ht20Report r;
    r.max_exp = payload[0];
    r.freq = ReadBe16(payload + 1);
    r.rssi = static_cast<int8_t>(payload[3]);
    r.noise = static_cast<int8_t>(payload[4]);
    r.max_magnitude = ReadBe16(payload + 5);
    r.max_index = payload[7];
    r.bitmap_weight = payload[8];
    r.tsf = ReadBe64(payload + 9);
    const uint8_t* bins = payload + HT20_FIELDS_SIZE;
    if (length < HT20_PAYLOAD_SIZE) {
        // The hardware lost a byte at the start of the bins: the 55 that
        // arrived are the upper ones, the lowest repeats its neighbour.
        counters_.one_byte_short++;
        memcpy(r.bins + 1, bins, HT20_BINS - 1);
        r.bins[0] = r.bins[1];
    } else {
        // Any extra bytes follow the 56 bins and are dropped.
        counters_.overlong += length > HT20_PAYLOAD_SIZE ? 1 : 0;
        memcpy(r.bins, bins, HT20_BINS);
    }
    if (!InBand(r.freq)) {
        sink.OnOutOfBand(r);
        Skip(SkipReason::kOutOfBand, r.freq);
        return;
    }
    counters_.reports++;
    sink.OnReport(r);
}

// The warning text is built only when a warning is due: a 5 GHz chanscan
// skips most of its records.
void RelayDecoder::Skip(SkipReason reason, unsigned value, unsigned length) {
    const uint64_t n = ++counters_.skipped[static_cast<int>(reason)];
    if (!WarningDue(n)) {
        return;
    }
    char detail[64];
    switch (reason) {
        case SkipReason::kOutOfBand:
            snprintf(detail, sizeof(detail), "%u MHz", value);
            break;
        case SkipReason::kTruncated:
            snprintf(detail, sizeof(detail), "%u bytes at the end of the stream", value);
            break;
        case SkipReason::kBadLength:
        case SkipReason::kUnknownType:
            snprintf(detail, sizeof(detail), "type %u, %u bytes", value, length);
            break;
        default:
            snprintf(detail, sizeof(detail), "type %u", value);
            break;
    }
    Warn(n, std::string("record skipped, ") + SkipReasonName(reason) + ": " + detail);
}

void RelayDecoder::Garbage() {
    counters_.garbage_bytes++;
    if (!in_garbage_) {
        in_garbage_ = true;
        counters_.garbage_runs++;
        if (WarningDue(counters_.garbage_runs)) {
            Warn(counters_.garbage_runs, "bytes that start no plausible record, resynchronising");
        }
    }
    in_sync_ = false;
}

// First occurrence, then every thousandth: a broken card or file cannot
// flood the terminal.
bool RelayDecoder::WarningDue(uint64_t occurrence) const {
    return !quiet_ && (occurrence == 1 || occurrence % 1000 == 0);
}

void RelayDecoder::Warn(uint64_t occurrence, const std::string& text) const {
    fprintf(stderr, "Warning!! relay stream: %s (%llu so far)\n", text.c_str(),
            static_cast<unsigned long long>(occurrence));
}

}  // namespace relay
