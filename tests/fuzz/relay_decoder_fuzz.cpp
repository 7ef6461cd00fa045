// The spectral-scan relay stream through the producer's decoder, mapping and
// batching. The first byte picks how the stream is cut into reads (as a
// growing relay file is) and whether a noise floor override is in force; the
// rest is the stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "relay_decoder.h"
#include "sample_mapper.h"

namespace {

class MappingSink : public relay::ReportSink {
public:
    MappingSink(relay::SampleMapper& mapper, relay::DatagramBatcher& batcher)
        : mapper_(mapper), batcher_(batcher) {}
    void OnReport(const relay::Ht20Report& report) override {
        if (report.freq < relay::BAND_24_LOW_MHZ || report.freq > relay::BAND_24_HIGH_MHZ) {
            __builtin_trap();  // out-of-band reports must never be handed on
        }
        mapper_.MapReport(report, batcher_.NextSlot());
        batcher_.Commit();
    }

private:
    relay::SampleMapper& mapper_;
    relay::DatagramBatcher& batcher_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t control = data[0];
    const size_t piece = control & 0x3F;  // 0: the whole stream in one read
    std::optional<int> noise;
    if (control & 0x40) {
        noise = -97;
    }
    const uint8_t* stream = data + 1;
    const size_t len = size - 1;

    relay::RelayDecoder decoder;
    decoder.SetQuiet(true);
    relay::SampleMapper mapper(noise);
    mapper.SetQuiet(true);
    uint64_t datagrams = 0;
    relay::DatagramBatcher batcher([&datagrams](const uint8_t* wire, size_t n, uint64_t) {
        fft_data d;
        if (n != FFT_DATA_WIRE_SIZE) {
            __builtin_trap();
        }
        DecodeFftData(wire, d);
        if (d.count < 1 || d.count > CONST_FFT_SAMPLES_PER_DATAGRAM) {
            __builtin_trap();
        }
        datagrams++;
    });
    MappingSink sink(mapper, batcher);

    // Reads of `piece` bytes into a buffer that keeps the unused tail, the
    // way the producer reads a growing file.
    std::vector<uint8_t> buffer;
    size_t at = 0;
    while (piece > 0 && at < len) {
        const size_t n = piece < len - at ? piece : len - at;
        buffer.insert(buffer.end(), stream + at, stream + at + n);
        at += n;
        const size_t used = decoder.Decode(buffer.data(), buffer.size(), false, sink);
        if (used > buffer.size()) {
            __builtin_trap();
        }
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(used));
    }
    buffer.insert(buffer.end(), stream + at, stream + len);
    if (decoder.Decode(buffer.data(), buffer.size(), true, sink) != buffer.size()) {
        __builtin_trap();  // at the end everything is accounted for
    }
    batcher.Flush();
    const relay::DecoderCounters& c = decoder.Counters();
    if (datagrams != (c.reports + 13) / 14 && piece == 0) {
        __builtin_trap();
    }
    return 0;
}
