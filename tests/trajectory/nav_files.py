#!/usr/bin/env python3
"""Navigation files for the beamfall-trajectory tests, written and read here with struct,
independently of the converter's code.

    nav_files.py sbet-from-traj TRAJ OUT --day D --leap S --wander W0,RATE
        An SBET of a beamfall trajectory file (time lat lon h pitch roll heading): GPS
        seconds of the week = D days + the hours + S leap seconds, taken modulo the week;
        wander angle W0 + RATE x record index (radians), platform heading = true heading
        + wander within 0 .. 2 pi.
    nav_files.py fixture NAME OUT
        A tiny SBET or smrmsg fixture (see FIXTURES).
    nav_files.py smrmsg OUT --start SOW --step S --count N --sigma N,E,D,R,P,H
        An smrmsg of constant sigma: metres, and arc minutes for roll, pitch, heading.
    nav_files.py expect-rows SBET TRAJ --leap S
        Checks the first and last rows of TRAJ against the SBET's first and last records.
    nav_files.py expect-sigma SBET SMRMSG SIGMA --leap S [--from T --to T]
        Checks every line of SIGMA against the smrmsg's epochs within the hours T .. T.
    nav_files.py compare-traj A B
        The largest difference between two trajectory files, column by column.
    nav_files.py compare-las A B --max-metres M
        Two LAS 1.4 point files (format 6) of the same run: the same points, each within M
        metres horizontally and vertically.
"""
import math
import struct
import sys

SBET = struct.Struct("<17d")
SMRMSG = struct.Struct("<10d")
WEEK = 604800.0


def sbet_record(t, lat, lon, h, roll, pitch, platform, wander):
    return SBET.pack(t, lat, lon, h, 0, 0, 0, roll, pitch, platform, wander, 0, 0, 0, 0, 0, 0)


def read_records(path, layout):
    data = open(path, "rb").read()
    return [layout.unpack_from(data, k) for k in range(0, len(data), layout.size)]


def read_rows(path):
    return [[float(v) for v in line.split()] for line in open(path) if line.strip()]


def option(args, name, default=None):
    return args[args.index(name) + 1] if name in args else default


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def sbet_from_traj(args):
    traj, out = args[0], args[1]
    day, leap = int(option(args, "--day")), int(option(args, "--leap"))
    w0, rate = (float(v) for v in option(args, "--wander").split(","))
    with open(out, "wb") as f:
        for k, (hours, lat, lon, h, pitch, roll, heading) in enumerate(read_rows(traj)):
            t = math.fmod(day * 86400 + leap + hours * 3600, WEEK)
            wander = w0 + rate * k
            platform = math.fmod(math.radians(heading) + wander + 4 * math.pi, 2 * math.pi)
            f.write(sbet_record(t, math.radians(lat), math.radians(lon), h, math.radians(roll),
                                math.radians(pitch), platform, wander))


# Two good records 5 ms apart over the Sierra Nevada, and that file spoilt in one way each.
GOOD = [(400825.0013, 0.6591, -2.0774, 6991.6, 0.0016, 0.0507, 2.8800, 0.0178),
        (400825.0063, 0.6591, -2.0774, 6991.6, 0.0016, 0.0507, 2.8800, 0.0178)]


def spoilt(index, value):
    records = [list(r) for r in GOOD]
    records[1][index] = value
    return b"".join(sbet_record(*r) for r in records)


def smrmsg_bytes(sigmas):
    return b"".join(SMRMSG.pack(400825.0 + k, *s) for k, s in enumerate(sigmas))


GOOD_SIGMA = [(0.02, 0.03, 0.05, 0.01, 0.01, 0.01, 0.5, 0.6, 1.2)] * 2
FIXTURES = {
    "good": b"".join(sbet_record(*r) for r in GOOD),
    "short": b"".join(sbet_record(*r) for r in GOOD)[:-1],
    "empty": b"",
    "nan": spoilt(1, float("nan")),
    "latitude": spoilt(1, 1.6),
    "heading": spoilt(6, float("inf")),
    "backwards": spoilt(0, 400825.0012),
    "repeated": spoilt(0, GOOD[0][0]),
    "smrmsg-good": smrmsg_bytes(GOOD_SIGMA),
    "smrmsg-short": smrmsg_bytes(GOOD_SIGMA)[:-8],
    "smrmsg-negative": smrmsg_bytes([GOOD_SIGMA[0], (0.02, -0.03) + GOOD_SIGMA[0][2:]]),
    "smrmsg-nan": smrmsg_bytes([GOOD_SIGMA[0], GOOD_SIGMA[0][:8] + (float("nan"),)]),
}


def smrmsg(args):
    out = args[0]
    start, step = float(option(args, "--start")), float(option(args, "--step"))
    n, e, d, r, p, h = (float(v) for v in option(args, "--sigma").split(","))
    with open(out, "wb") as f:
        for k in range(int(option(args, "--count"))):
            f.write(SMRMSG.pack(math.fmod(start + k * step, WEEK), n, e, d, 0, 0, 0, r, p, h))


def day_origin(first_sow, leap):
    """GPS seconds at which the hours count from: the start of the (UTC) day of the first
    record, plus the leap seconds."""
    return math.floor((first_sow - leap) / 86400) * 86400 + leap


def hours_of(sow, origin, first_sow):
    # Seconds counted on across the end of the week, as one flight is.
    if sow < first_sow - WEEK / 2:
        sow += WEEK
    return (sow - origin) / 3600


def check_near(what, got, want, tolerance):
    if not abs(got - want) <= tolerance:
        fail("%s: %.15g, expected %.15g (within %g)" % (what, got, want, tolerance))


def wrap180(degrees):
    return math.remainder(degrees, 360)


def expect_rows(args):
    records, rows = read_records(args[0], SBET), read_rows(args[1])
    leap = int(option(args, "--leap"))
    origin = day_origin(records[0][0], leap)
    if len(rows) != len(records):
        fail("%d rows for %d records" % (len(rows), len(records)))
    for name, r, row in (("first", records[0], rows[0]), ("last", records[-1], rows[-1])):
        t, lat, lon, h, roll, pitch, platform, wander = r[0], r[1], r[2], r[3], r[7], r[8], r[9], r[10]
        want = [hours_of(t, origin, records[0][0]), math.degrees(lat), math.degrees(lon), h,
                math.degrees(pitch), math.degrees(roll), wrap180(math.degrees(platform - wander))]
        # Half a unit of the columns' last decimal (F16.12, F.10, F12.5), and a little more.
        tolerances = [6e-13, 6e-11, 6e-11, 6e-6, 6e-11, 6e-11, 6e-11]
        columns = ["time", "lat", "lon", "h", "pitch", "roll", "heading"]
        for c in range(7):
            check_near("%s row, %s" % (name, columns[c]), row[c], want[c], tolerances[c])
        print("%s row: %s" % (name, " ".join("%.10f" % v for v in row)))


def expect_sigma(args):
    first_sow = read_records(args[0], SBET)[0][0]
    epochs, rows = read_records(args[1], SMRMSG), read_rows(args[2])
    leap = int(option(args, "--leap"))
    lo, hi = float(option(args, "--from", "-inf")), float(option(args, "--to", "inf"))
    origin = day_origin(first_sow, leap)
    want = []
    for e in epochs:
        hours = hours_of(e[0], origin, first_sow)
        if lo <= hours <= hi:
            want.append([hours, e[1], e[2], e[3], e[7] / 60, e[8] / 60, e[9] / 60])
    if len(rows) != len(want):
        fail("%d sigma lines for %d epochs within the hours" % (len(rows), len(want)))
    tolerances = [6e-13, 6e-6, 6e-6, 6e-6, 6e-11, 6e-11, 6e-11]
    for k, (row, w) in enumerate(zip(rows, want)):
        for c in range(7):
            check_near("sigma line %d, column %d" % (k + 1, c + 1), row[c], w[c], tolerances[c])
    print("%d sigma lines as expected" % len(rows))


def compare_traj(args):
    a, b = read_rows(args[0]), read_rows(args[1])
    if len(a) != len(b):
        fail("%d rows against %d" % (len(a), len(b)))
    largest = [max(abs(x[c] - y[c]) for x, y in zip(a, b)) for c in range(7)]
    print("largest differences: time %.3g h, lat %.3g, lon %.3g deg, h %.3g m, "
          "pitch %.3g, roll %.3g, heading %.3g deg" % tuple(largest))
    return largest


def las_points(path):
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 96)
    fmt, length = struct.unpack_from("<BH", data, 104)
    count, = struct.unpack_from("<Q", data, 247)
    scale = struct.unpack_from("<3d", data, 131)
    base = struct.unpack_from("<3d", data, 155)
    if fmt != 6:
        fail("%s: point format %d, not 6" % (path, fmt))
    points = []
    for k in range(count):
        x, y, z = struct.unpack_from("<3i", data, offset + k * length)
        gps_time, = struct.unpack_from("<d", data, offset + k * length + 22)
        points.append((base[0] + x * scale[0], base[1] + y * scale[1], base[2] + z * scale[2],
                       gps_time))
    return points


def compare_las(args):
    a, b = las_points(args[0]), las_points(args[1])
    limit = float(option(args, "--max-metres"))
    if len(a) != len(b) or not a:
        fail("%d points against %d" % (len(a), len(b)))
    horizontal = vertical = 0.0
    for (lon1, lat1, h1, t1), (lon2, lat2, h2, t2) in zip(a, b):
        if t1 != t2:
            fail("point times differ: %r and %r" % (t1, t2))
        north = (lat2 - lat1) * 111320
        east = (lon2 - lon1) * 111320 * math.cos(math.radians(lat1))
        horizontal = max(horizontal, math.hypot(north, east))
        vertical = max(vertical, abs(h2 - h1))
    print("%d points; largest differences %.6f m horizontally, %.6f m vertically"
          % (len(a), horizontal, vertical))
    if horizontal > limit or vertical > limit:
        fail("points differ by more than %g m" % limit)


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "sbet-from-traj":
        sbet_from_traj(args)
    elif command == "fixture":
        open(args[1], "wb").write(FIXTURES[args[0]])
    elif command == "smrmsg":
        smrmsg(args)
    elif command == "expect-rows":
        expect_rows(args)
    elif command == "expect-sigma":
        expect_sigma(args)
    elif command == "compare-traj":
        largest = compare_traj(args)
        limits = [1e-12, 1e-10, 1e-10, 1e-5, 1e-10, 1e-10, 1e-10]
        if any(d > lim for d, lim in zip(largest, limits)):
            fail("the trajectories differ by more than %s" % limits)
    elif command == "compare-las":
        compare_las(args)
    else:
        fail("unknown command " + command)


if __name__ == "__main__":
    main()
