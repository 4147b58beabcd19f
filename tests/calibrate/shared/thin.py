#!/usr/bin/env python3
"""Thins the shared calibration campaigns into the test fixture beside this script.

usage: thin.py SHARED_100HZ SHARED_10HZ KEEP

Keeps every KEEP-th measurement of each scan of every line's flight.2dd (both campaigns share
them byte for byte), with the header's measurements per scan and bytes per scan and each
scan's sync word rewritten, and the deck's index range (its 13th line) cut to match; copies
each line's trajectory from both campaigns (traj100.txt, traj10.txt), control.csv and
truth.json unchanged.
"""
import pathlib
import shutil
import struct
import sys


def thin_scanner(data: bytes, keep: int) -> tuple[bytes, int]:
    header = bytearray(data[:47])
    (nmeas,) = struct.unpack_from("<h", header, 12)
    scan_bytes = 2 + 8 * nmeas
    kept = list(range(0, nmeas, keep))
    struct.pack_into("<h", header, 4, 2 + 8 * len(kept))
    struct.pack_into("<h", header, 12, len(kept))
    out = bytearray(header)
    body = data[47:]
    if len(body) % scan_bytes:
        sys.exit(f"scanner file: {len(body)} bytes after the header, not whole scans")
    for at in range(0, len(body), scan_bytes):
        out += struct.pack("<h", 8 * len(kept))
        for k in kept:
            out += body[at + 2 + 8 * k: at + 10 + 8 * k]
    return bytes(out), len(kept)


def main() -> None:
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    src100, src10, keep = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]), int(sys.argv[3])
    dst = pathlib.Path(__file__).resolve().parent
    for line in sorted(p for p in src100.iterdir() if (p / "deck").is_file()):
        out = dst / line.name
        out.mkdir(exist_ok=True)
        scanner, nmeas = thin_scanner((line / "flight.2dd").read_bytes(), keep)
        (out / "flight.2dd").write_bytes(scanner)
        deck = (line / "deck").read_text().splitlines()
        deck[12] = f"1 {nmeas}"
        (out / "deck").write_text("\n".join(deck) + "\n")
        shutil.copyfile(line / "traj.txt", out / "traj100.txt")
        shutil.copyfile(src10 / line.name / "traj.txt", out / "traj10.txt")
    for name in ("control.csv", "truth.json"):
        shutil.copyfile(src100 / name, dst / name)


if __name__ == "__main__":
    main()
