// A stream of spectrum datagrams through the whole receive path: sizes,
// sample counts, frequencies, card timestamps (repeating, going backwards,
// wrapping) and bin contents all come from the input, and so does the host
// clock. Compact "burst" records expand into hundreds of datagrams of busy
// spectrum so that small inputs reach the classifier passes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fft_data.h"
#include "fuzz_support.h"
#include "subband_analyser_class.h"

namespace {

constexpr uint16_t kCentres[6] = {2412, 2422, 2437, 2442, 2452, 2462};
// Bounds the work of one input so that every input runs in well under a second.
constexpr long kMaxSamplesPerInput = 20000;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), n_(size) {}
    bool Empty() const { return n_ == 0; }
    uint8_t U8() {
        if (n_ == 0) {
            return 0;
        }
        n_--;
        return *p_++;
    }
    uint16_t U16() { return static_cast<uint16_t>(U8() | (U8() << 8)); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
    size_t Take(uint8_t* out, size_t len) {
        const size_t k = len < n_ ? len : n_;
        memcpy(out, p_, k);
        p_ += k;
        n_ -= k;
        return k;
    }

private:
    const uint8_t* p_;
    size_t n_;
};

// Small deterministic generator for the bursts.
struct XorShift {
    uint32_t s;
    uint32_t Next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
};

class StreamDriver {
public:
    explicit StreamDriver(SubBandAnalyser& analyser) : analyser_(analyser) {}

    void Run(Reader& in) {
        while (!in.Empty() && samples_ < kMaxSamplesPerInput) {
            switch (in.U8() % 6) {
                case 0:
                    RawDatagram(in);
                    break;
                case 1:
                    DescribedDatagram(in);
                    break;
                case 2:
                case 3:
                    Burst(in);
                    break;
                case 4:
                    FakeHostClock::AdvanceUs(static_cast<uint64_t>(in.U16()) * 1000);
                    break;
                case 5:
                    CardClock(in);
                    break;
            }
        }
    }

private:
    void Send(const fft_data& d) {
        uint8_t wire[FFT_DATA_WIRE_SIZE];
        EncodeFftData(d, wire);
        analyser_.ProcessDatagram(wire, static_cast<ssize_t>(sizeof(wire)));
        if (d.count > 0 && d.count <= CONST_FFT_SAMPLES_PER_DATAGRAM) {
            samples_ += d.count;
        }
    }

    // Any length up to past the receive buffer, or a failed receive.
    void RawDatagram(Reader& in) {
        const uint16_t sel = in.U16();
        const size_t len = sel % (CONST_RECEIVE_BUFFER_SIZE + 1);
        std::vector<uint8_t> buf(len ? len : 1, 0);
        in.Take(buf.data(), len);
        analyser_.ProcessDatagram(buf.data(), sel == 0xFFFF ? -1 : static_cast<ssize_t>(len));
        samples_ += 14;
    }

    void CardClock(Reader& in) {
        switch (in.U8() % 4) {
            case 0:
                ts_ = MAX_MAC_TIMESTAMP_VAL - in.U16();  // about to wrap
                break;
            case 1:
                ts_ -= in.U16();  // backwards
                break;
            case 2:
                ts_ = (static_cast<uint64_t>(in.U32()) << 32) | in.U32();
                break;
            default:
                break;  // repeat the same time
        }
    }

    uint16_t Frequency(Reader& in) {
        const uint8_t sel = in.U8();
        if (sel < 240) {
            return kCentres[sel % 6];
        }
        return in.U16();  // anything, centre frequency or not
    }

    // One datagram whose every field the input chooses.
    void DescribedDatagram(Reader& in) {
        fft_data d;
        memset(&d, 0, sizeof(d));
        const uint8_t c = in.U8();
        d.count = c <= 16 ? c : (c < 128 ? static_cast<int32_t>(in.U32()) : -static_cast<int>(c));
        const int n = d.count > 0 && d.count <= 14 ? d.count : 14;
        for (int i = 0; i < n; i++) {
            spectrum_fft& s = d.samples[i];
            s.freq = Frequency(in);
            const uint8_t step = in.U8();
            if (step & 0x80) {
                ts_ -= step & 0x7F;
            } else {
                ts_ += static_cast<uint64_t>(step) * 37;
            }
            s.ts = ts_;
            s.rssi = static_cast<int8_t>(in.U8());
            s.start_index = in.U8();
            switch (in.U8() % 4) {
                case 0:
                    break;  // all zero
                case 1:
                    memset(s.samples, 255, sizeof(s.samples));
                    break;
                case 2: {
                    XorShift rng{static_cast<uint32_t>(in.U16()) | 1u};
                    for (uint8_t& b : s.samples) {
                        b = static_cast<uint8_t>(rng.Next());
                    }
                    break;
                }
                default:
                    in.Take(s.samples, sizeof(s.samples));
                    break;
            }
            FakeHostClock::AdvanceUs(step * 37);
        }
        Send(d);
    }

    // Busy spectrum on one channel, with hopping pulses, a steady carrier
    // and occasional channel changes.
    void Burst(Reader& in) {
        const int datagrams = 1 + in.U8() * 2;
        const uint64_t step = 40 + static_cast<uint64_t>(in.U8()) * 4;
        const uint8_t change_odds = in.U8();
        const uint8_t carrier_bin = in.U8() % 67;
        const int8_t rssi = static_cast<int8_t>(in.U8());
        XorShift rng{(static_cast<uint32_t>(in.U16()) << 8) | 1u};
        uint16_t freq = kCentres[in.U8() % 6];
        for (int k = 0; k < datagrams && samples_ < kMaxSamplesPerInput; k++) {
            if ((rng.Next() & 0xFF) < change_odds) {
                freq = kCentres[rng.Next() % 6];
            }
            fft_data d;
            memset(&d, 0, sizeof(d));
            d.count = CONST_FFT_SAMPLES_PER_DATAGRAM;
            for (int i = 0; i < d.count; i++) {
                spectrum_fft& s = d.samples[i];
                s.freq = freq;
                ts_ += step;
                s.ts = ts_;
                s.rssi = rssi;
                for (uint8_t& b : s.samples) {
                    b = static_cast<uint8_t>(1 + (rng.Next() & 3));
                }
                if (carrier_bin >= 2) {
                    s.samples[carrier_bin] = 200;
                }
                const uint32_t r = rng.Next();
                if ((r & 7) == 0) {  // a short hop of a few bins
                    const int at = 2 + static_cast<int>((r >> 8) % 50);
                    const int width = 1 + static_cast<int>((r >> 16) % 6);
                    for (int b = at; b < at + width && b < CONST_FFT_RAW_BINS; b++) {
                        s.samples[b] = 150;
                    }
                }
            }
            FakeHostClock::AdvanceUs(step * CONST_FFT_SAMPLES_PER_DATAGRAM);
            Send(d);
        }
    }

    SubBandAnalyser& analyser_;
    uint64_t ts_ = 1000;
    long samples_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetProcessState();
    {
        SubBandAnalyser analyser("output.txt", 100000000, fuzz::ShippedSignatures(), 65535);
        StreamDriver driver(analyser);
        Reader in(data, size);
        driver.Run(in);
    }
    ResetHostClock();
    return 0;
}
