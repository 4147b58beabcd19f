#!/usr/bin/env python3
"""An independent reader of beamfall's LAS files with uncertainties, for the tests: the
header, the extra bytes descriptors found by name in the LASF_Spec record 4, and every
point's height, scan angle and sigma_horizontal / sigma_vertical as the descriptors scale
them. Written from the ASPRS LAS 1.4 R15 layout, not from beamfall's writer.

usage: las_sigma.py describe FILE
         the extra dimensions, one a line: name data_type scale offset_in_record
       las_sigma.py zscores FILE SURFACE_HEIGHT
         RMS of (height - SURFACE_HEIGHT) / sigma_vertical over all points and in bands of 9
         degrees of scan angle from -22.5 (the outermost bands take what lies beyond), and
         the median sigma_horizontal of the points within 1 degree of nadir:
         "all N RMS", "band LO HI N RMS" lines, "nadir_sigma_horizontal N MEDIAN"
       las_sigma.py sigmas FILE
         each point's range, scan angle, sigma_horizontal and sigma_vertical, one a line
       las_sigma.py percentiles FILE
         "sigma_horizontal P5 P50 P95" and the same for sigma_vertical: the nearest-rank
         percentiles of the values in the file
"""
import math
import struct
import sys

SIZES = {1: 1, 2: 1, 3: 2, 4: 2, 5: 4, 6: 4, 7: 8, 8: 8, 9: 4, 10: 8}
FORMATS = {1: "B", 2: "b", 3: "H", 4: "h", 5: "I", 6: "i", 7: "Q", 8: "q", 9: "f", 10: "d"}
CORE_LENGTH = {6: 30, 7: 36, 8: 38}


def read(path):
    data = open(path, "rb").read()
    if data[:4] != b"LASF":
        sys.exit(f"{path}: not a LAS file")
    header_size, = struct.unpack_from("<H", data, 94)
    point_offset, n_vlr = struct.unpack_from("<II", data, 96)
    point_format = data[104]
    record_length, = struct.unpack_from("<H", data, 105)
    scale = struct.unpack_from("<3d", data, 131)
    offset = struct.unpack_from("<3d", data, 155)
    count, = struct.unpack_from("<Q", data, 247)
    extras = []
    at = header_size
    for _ in range(n_vlr):
        user = data[at + 2:at + 18].rstrip(b"\0").decode()
        record_id, length = struct.unpack_from("<HH", data, at + 18)
        if user == "LASF_Spec" and record_id == 4:
            field_at = CORE_LENGTH[point_format]
            for d in range(at + 54, at + 54 + length, 192):
                data_type, options = data[d + 2], data[d + 3]
                name = data[d + 4:d + 36].rstrip(b"\0").decode()
                factor = struct.unpack_from("<d", data, d + 112)[0] if options & 8 else 1.0
                extras.append((name, data_type, factor, field_at))
                field_at += SIZES[data_type]
        at += 54 + length
    if at != point_offset:
        sys.exit(f"{path}: the VLRs end at {at}, the points start at {point_offset}")
    if point_offset + count * record_length != len(data):
        sys.exit(f"{path}: {count} records of {record_length} bytes do not fill the file")
    return data, point_offset, record_length, count, scale, offset, extras


def points(path):
    data, start, length, count, scale, offset, extras = read(path)
    fields = {name: (FORMATS[t], factor, at) for name, t, factor, at in extras}
    for k in range(count):
        r = start + k * length
        z, = struct.unpack_from("<i", data, r + 8)
        angle, = struct.unpack_from("<h", data, r + 18)
        sig = []
        for name in ("sigma_horizontal", "sigma_vertical"):
            fmt, factor, at = fields[name]
            sig.append(struct.unpack_from("<" + fmt, data, r + at)[0] * factor)
        fmt, factor, at = fields["range"]
        rng = struct.unpack_from("<" + fmt, data, r + at)[0] * factor
        yield z * scale[2] + offset[2], angle * 0.006, sig[0], sig[1], rng


def zscores(path, surface):
    bands = {}
    total, n = 0.0, 0
    nadir = []
    for h, angle, sh, sv, _ in points(path):
        z2 = ((h - surface) / sv) ** 2
        total += z2
        n += 1
        band = min(4, max(0, math.floor((angle + 22.5) / 9)))
        s = bands.setdefault(band, [0, 0.0])
        s[0] += 1
        s[1] += z2
        if abs(angle) <= 1:
            nadir.append(sh)
    print(f"all {n} {math.sqrt(total / n):.4f}")
    for band in sorted(bands):
        m, s = bands[band]
        print(f"band {-22.5 + 9 * band:g} {-13.5 + 9 * band:g} {m} {math.sqrt(s / m):.4f}")
    nadir.sort()
    print(f"nadir_sigma_horizontal {len(nadir)} {nadir[len(nadir) // 2]:.4f}")


def main():
    command, path = sys.argv[1], sys.argv[2]
    if command == "describe":
        for name, data_type, factor, at in read(path)[6]:
            print(name, data_type, repr(factor), at)
    elif command == "zscores":
        zscores(path, float(sys.argv[3]))
    elif command == "sigmas":
        for h, angle, sh, sv, rng in points(path):
            print(f"{rng:.3f} {angle:.3f} {sh:.3f} {sv:.3f}")
    elif command == "percentiles":
        values = list(points(path))
        for name, k in (("sigma_horizontal", 2), ("sigma_vertical", 3)):
            v = sorted(p[k] for p in values)
            ranks = [max(1, math.ceil(q / 100 * len(v))) for q in (5, 50, 95)]
            print(name, " ".join(f"{v[r - 1]:.3f}" for r in ranks))
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    main()
