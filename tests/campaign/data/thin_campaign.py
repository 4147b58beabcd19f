#!/usr/bin/env python3
"""Thins a campaign of binary .2dd lines into a small test fixture: every SCANS-th scan, every
MEAS-th measurement of each kept scan (the first kept, so that each scan starts with its own
first timer), and every TRAJ-th trajectory record. The decks are copied as they are. Each
measurement keeps its own timer, so the points that remain are where the whole files put them.

usage: thin_campaign.py SOURCE DEST SCANS MEAS TRAJ"""
import os
import shutil
import struct
import sys

HEADER = 47  # bytes; the header's int16 at 4 is the bytes a scan, at 12 the measurements


def thin_scanner(src, dest, scans, meas):
    data = open(src, "rb").read()
    nmeas = struct.unpack_from("<h", data, 12)[0]
    scan = 2 + 8 * nmeas
    keep = range(0, nmeas, meas)
    header = bytearray(data[:HEADER])
    struct.pack_into("<h", header, 4, 2 + 8 * len(keep))
    struct.pack_into("<h", header, 12, len(keep))
    out = [bytes(header)]
    for at in range(HEADER, len(data) - scan + 1, scan * scans):
        out.append(struct.pack("<h", 8 * len(keep)))  # the scan's sync word: 8 bytes a measurement
        out.extend(data[at + 2 + 8 * k:at + 10 + 8 * k] for k in keep)
    with open(dest, "wb") as f:
        f.write(b"".join(out))


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    src, dest = sys.argv[1], sys.argv[2]
    scans, meas, traj = (int(v) for v in sys.argv[3:])
    for line in sorted(os.listdir(src)):
        folder = os.path.join(src, line)
        if not os.path.isfile(os.path.join(folder, "deck")):
            continue
        out = os.path.join(dest, line)
        os.makedirs(out)
        shutil.copyfile(os.path.join(folder, "deck"), os.path.join(out, "deck"))
        thin_scanner(os.path.join(folder, "flight.2dd"), os.path.join(out, "flight.2dd"), scans,
                     meas)
        with open(os.path.join(folder, "traj.txt")) as f, \
                open(os.path.join(out, "traj.txt"), "w") as t:
            t.writelines(record for k, record in enumerate(f) if k % traj == 0)


main()
