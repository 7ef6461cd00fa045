#include "fft_data.h"

#include <cstring>

namespace {

uint16_t ReadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t ReadU64(const uint8_t* p) {
    return static_cast<uint64_t>(ReadU32(p)) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32);
}

void WriteU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void WriteU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

void WriteU64(uint8_t* p, uint64_t v) {
    WriteU32(p, static_cast<uint32_t>(v));
    WriteU32(p + 4, static_cast<uint32_t>(v >> 32));
}

void DecodeSpectrumFft(const uint8_t* p, spectrum_fft& s) {
    memset(&s, 0, sizeof(s));
    s.freq = ReadU16(p + 0);
    s.ts = ReadU64(p + 8);
    s.width = ReadU32(p + 16);
    s.rssi = static_cast<int8_t>(p[20]);
    s.sample_bin_cnt = ReadU16(p + 22);
    s.start_index = p[24];
    s.datalen = ReadU16(p + 26);
    memcpy(s.samples, p + 28, CONST_FFT_RAW_BINS);
}

void EncodeSpectrumFft(const spectrum_fft& s, uint8_t* p) {
    memset(p, 0, SPECTRUM_FFT_WIRE_SIZE);
    WriteU16(p + 0, s.freq);
    WriteU64(p + 8, s.ts);
    WriteU32(p + 16, s.width);
    p[20] = static_cast<uint8_t>(s.rssi);
    WriteU16(p + 22, s.sample_bin_cnt);
    p[24] = s.start_index;
    WriteU16(p + 26, s.datalen);
    memcpy(p + 28, s.samples, CONST_FFT_RAW_BINS);
}

}  // namespace

void DecodeFftData(const uint8_t* wire, fft_data& out) {
    for (int i = 0; i < CONST_FFT_SAMPLES_PER_DATAGRAM; i++) {
        DecodeSpectrumFft(wire + i * SPECTRUM_FFT_WIRE_SIZE, out.samples[i]);
    }
    out.count = static_cast<int32_t>(ReadU32(wire + 1344));
    memset(out.pad0, 0, sizeof(out.pad0));
    out.seq_num = ReadU64(wire + 1352);
}

void EncodeFftData(const fft_data& in, uint8_t* wire) {
    memset(wire, 0, FFT_DATA_WIRE_SIZE);
    for (int i = 0; i < CONST_FFT_SAMPLES_PER_DATAGRAM; i++) {
        EncodeSpectrumFft(in.samples[i], wire + i * SPECTRUM_FFT_WIRE_SIZE);
    }
    WriteU32(wire + 1344, static_cast<uint32_t>(in.count));
    WriteU64(wire + 1352, in.seq_num);
}
