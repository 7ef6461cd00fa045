// Wire records of the spectral-scan producer.
//
// One datagram (fft_data, 1360 bytes) carries up to 14 samples
// (spectrum_fft, 96 bytes each), all multi-byte fields little-endian:
//
//   spectrum_fft            fft_data
//   0   u16 freq (MHz)      0     spectrum_fft samples[14]
//   8   u64 ts (card us)    1344  s32 count
//   16  u32 width           1352  u64 seq_num
//   20  s8  rssi (dB)
//   22  u16 sample_bin_cnt
//   24  u8  start_index
//   26  u16 datalen
//   28  u8  samples[67]: bins 2..57 are the 20 MHz subband, 30 is DC
//
// The structs carry explicit padding so that their layout is the same on
// every ABI (32-bit ARM included); the receiver never reinterprets raw bytes
// as these structs but decodes each field at its offset.
#ifndef TESSARON_FFT_DATA_H
#define TESSARON_FFT_DATA_H

#include <cstddef>
#include <cstdint>

inline constexpr int CONST_FFT_SAMPLES_PER_DATAGRAM = 14;
inline constexpr int CONST_FFT_RAW_BINS = 67;

struct spectrum_fft {
    uint16_t freq;
    uint8_t pad0[6];
    uint64_t ts;
    uint32_t width;
    int8_t rssi;
    uint8_t pad1;
    uint16_t sample_bin_cnt;
    uint8_t start_index;
    uint8_t pad2;
    uint16_t datalen;
    uint8_t samples[CONST_FFT_RAW_BINS];
    uint8_t pad3;
};

struct fft_data {
    spectrum_fft samples[CONST_FFT_SAMPLES_PER_DATAGRAM];
    int32_t count;
    uint8_t pad0[4];
    uint64_t seq_num;
};

inline constexpr size_t SPECTRUM_FFT_WIRE_SIZE = 96;
inline constexpr size_t FFT_DATA_WIRE_SIZE = 1360;

static_assert(sizeof(spectrum_fft) == SPECTRUM_FFT_WIRE_SIZE, "spectrum_fft must be 96 bytes");
static_assert(offsetof(spectrum_fft, freq) == 0, "freq offset");
static_assert(offsetof(spectrum_fft, ts) == 8, "ts offset");
static_assert(offsetof(spectrum_fft, width) == 16, "width offset");
static_assert(offsetof(spectrum_fft, rssi) == 20, "rssi offset");
static_assert(offsetof(spectrum_fft, sample_bin_cnt) == 22, "sample_bin_cnt offset");
static_assert(offsetof(spectrum_fft, start_index) == 24, "start_index offset");
static_assert(offsetof(spectrum_fft, datalen) == 26, "datalen offset");
static_assert(offsetof(spectrum_fft, samples) == 28, "samples offset");
static_assert(sizeof(fft_data) == FFT_DATA_WIRE_SIZE, "fft_data must be 1360 bytes");
static_assert(offsetof(fft_data, count) == 1344, "count offset");
static_assert(offsetof(fft_data, seq_num) == 1352, "seq_num offset");

// Decodes a 1360-byte datagram field by field; padding is ignored.
void DecodeFftData(const uint8_t* wire, fft_data& out);
// Encodes the record into 1360 bytes (padding written as zero).
void EncodeFftData(const fft_data& in, uint8_t* wire);

#endif
