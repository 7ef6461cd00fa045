#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.

Run from anywhere; the seeds are committed, so this is only needed when the
input formats of the targets change.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CENTRES = [2412, 2422, 2437, 2442, 2452, 2462]


def out(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def datagram(freq, ts0, step, count=14, hop_every=5, rssi=40):
    samples = b""
    for i in range(14):
        bins = bytearray([2] * 67)
        if i % hop_every == 0:
            for b in range(10 + i, 14 + i):
                bins[b] = 150
        bins[40] = 200
        samples += struct.pack("<H6xQIbxHBxH", freq, ts0 + i * step, 20, rssi, 56, 2, 100)
        samples += bytes(bins) + b"\0"
    return samples + struct.pack("<i4xQ", count, 1)


# --- datagram_stream_fuzz: op bytes as read by StreamDriver ---------------
def burst(n, step_sel, odds, carrier, rssi, seed, chan):
    return bytes([2, n, step_sel, odds, carrier, rssi & 0xFF, seed & 0xFF, seed >> 8, chan])


out("datagram_stream_fuzz", "busy_one_channel", burst(200, 20, 0, 40, 40, 0x1234, 2) * 2)
out("datagram_stream_fuzz", "channel_changes", burst(150, 10, 40, 30, 30, 0x4321, 0) * 3)
out("datagram_stream_fuzz", "wrap_and_gaps",
    burst(100, 20, 0, 40, 40, 7, 3) + bytes([5, 0, 0x10, 0x00]) + burst(100, 20, 0, 40, 40, 9, 3)
    + bytes([4, 0xFF, 0x10]) + bytes([5, 1, 0xFF, 0x00]) + burst(60, 20, 0, 0, 40, 11, 3))
out("datagram_stream_fuzz", "wrong_sizes",
    bytes([0, 0x4F, 0x05]) + bytes([0, 0x51, 0x05]) + bytes([0, 0xFF, 0xFF]) + bytes([0, 0, 0]))
described = bytes([1, 14]) + b"".join(bytes([i, 30, 40, 2, i % 4, 1, 2]) for i in range(14))
out("datagram_stream_fuzz", "described_samples", described)
out("datagram_stream_fuzz", "bad_counts", bytes([1, 15]) + bytes([1, 200]) + bytes([1, 100, 0, 0, 0, 0x80]))

# --- signature_file_fuzz ---------------------------------------------------
with open(os.path.join(ROOT, "data", "signatures.txt"), "rb") as f:
    out("signature_file_fuzz", "shipped", f.read())
out("signature_file_fuzz", "empty", b"")
out("signature_file_fuzz", "short_record", b"1 AnalogPhone 2 -3 3 0.1,0.2,0.3\n")
out("signature_file_fuzz", "not_numbers", b"# comment\nx Phone y -3 3 a,b,c\n3 Cam 1 -2 2 0.4,0.4,0.5,0.4,0.4\n")
out("signature_file_fuzz", "mismatch", b"3 VideoCam 1 -5 5 0.5,0.5\n\n1 Late 0\n")

# --- ap_mapping_fuzz -------------------------------------------------------
out("ap_mapping_fuzz", "typical",
    b"# ether wireless name\n00:11:22:33:44:55 00:0e:8e:30:9c:04 kitchen\n"
    b"00:11:22:33:44:66 00:0e:8e:30:9c:05 hall  \t\n")
out("ap_mapping_fuzz", "short_lines", b"00:11:22:33:44:55 00:0e:8e:30:9c:04\n\t \nonly\n")
out("ap_mapping_fuzz", "empty_line_ends", b"a b c\n\nd e f\n")


# --- pcap_reader_fuzz ------------------------------------------------------
def ipv4_udp(payload, dport=10000):
    udp = struct.pack(">HHHH", 40000, dport, 8 + len(payload), 0) + payload
    ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 1, 0, 64, 17, 0,
                     bytes([127, 0, 0, 1]), bytes([127, 0, 0, 1]))
    return ip + udp


def ipv6_udp(payload, dport=10000):
    udp = struct.pack(">HHHH", 40000, dport, 8 + len(payload), 0) + payload
    return struct.pack(">IHBB16s16s", 0x60000000, len(udp), 17, 64, b"\0" * 15 + b"\1",
                       b"\0" * 15 + b"\1") + udp


def pcap(linktype, packets):
    data = struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, linktype)
    for i, p in enumerate(packets):
        data += struct.pack("<IIII", 1700000000 + i // 10, (i % 10) * 100000, len(p), len(p)) + p
    return data


grams = [datagram(CENTRES[2], 1000 + k * 14 * 300, 300) for k in range(4)]
out("pcap_reader_fuzz", "raw_ipv4", pcap(101, [ipv4_udp(g) for g in grams]))
eth = b"\xff" * 6 + b"\x02" * 6 + b"\x08\x00"
out("pcap_reader_fuzz", "ethernet", pcap(1, [eth + ipv4_udp(g) for g in grams[:2]]
                                         + [eth + ipv4_udp(b"x" * 10, 53)]))
out("pcap_reader_fuzz", "ipv6_sll", pcap(113, [b"\0\0\0\1\0\6" + b"\0" * 8 + b"\x86\xdd" + ipv6_udp(g)
                                               for g in grams[:2]]))
truncated = pcap(228, [ipv4_udp(g) for g in grams[:2]])
out("pcap_reader_fuzz", "cut_short", truncated[:-500])

# --- relay_decoder_fuzz: control byte, then a relay stream -----------------


def ht20(freq, tsf, rssi=20, noise=-95, length=73, bins=None):
    if bins is None:
        bins = bytes((10 + i) % 256 for i in range(56))
    payload = struct.pack(">BHbbHBBQ", 1, freq, rssi, noise, 300, 31, 4, tsf) + bins
    payload = (payload + b"\xee" * 3)[:length]
    return struct.pack(">BH", 1, length) + payload


def record(rtype, length, fill=0x55):
    return struct.pack(">BH", rtype, length) + bytes([fill]) * length


for name in ("card-a-chanscan.dump", "card-b-chanscan.dump"):
    with open(os.path.join(ROOT, "tests", "data", "realdata", name), "rb") as f:
        out("relay_decoder_fuzz", name.split("-chanscan")[0], b"\x00" + f.read()[:76 * 40])
good = b"".join(ht20(CENTRES[i % 6], 1000 + 37 * i) for i in range(30))
out("relay_decoder_fuzz", "in_pieces", b"\x05" + good)
out("relay_decoder_fuzz", "quirks", b"\x40" + ht20(2412, 1, length=72) + ht20(2437, 2, length=74)
    + ht20(2442, 3, length=75) + ht20(2442, 4, noise=0) + ht20(5180, 5) + ht20(2462, 6, length=71)
    + ht20(2462, 7, rssi=127, noise=-50))
out("relay_decoder_fuzz", "other_types", b"\x00" + record(2, 152) + record(3, 300) + ht20(2412, 9)
    + record(4, 40) + record(9, 20) + ht20(2422, 10))
out("relay_decoder_fuzz", "garbage_between", b"\x11" + ht20(2412, 1)[30:] + ht20(2412, 2)
    + b"\xff\x00\x13\x01\x00\x49\x37\x00" + ht20(2417, 3) + b"\x02\xff\xff\xde\xad"
    + ht20(2422, 4) + ht20(2427, 5)[:40])
