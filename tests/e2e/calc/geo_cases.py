#!/usr/bin/env python3
"""Independent calculation of the geo_* end-to-end cases.

Written from the program's documented file layouts and rules, not from its
sources: every number below is computed here in Python, in the order the
rules give, and the results are checked by hand in each case's NOTES.md.

    python3 tests/e2e/calc/geo_cases.py [CASE ...]

writes, for each case, the input files (deck, traj.txt, the scanner file or
its scan.2dd.txt description for mk2dd, geoid.txt) and expected/ into
tests/e2e/cases/CASE/. NOTES.md is written by hand and left alone.
"""
import math
import os
import shutil
import struct
import sys
from decimal import Decimal, ROUND_HALF_UP

HERE = os.path.dirname(os.path.abspath(__file__))
CASES_DIR = os.path.join(HERE, "..", "cases")

DEG = 0.01745329252
GON = 0.015707963268
INV_M_PER_DEG = 8.999280057595392e-06  # 1/111120


def f32(x):
    """x rounded to single precision, widened back."""
    return struct.unpack("<f", struct.pack("<f", x))[0]


# ---------------------------------------------------------------- records

def fmt_f(w, d, v):
    """Fw.d: exact binary value rounded half away from zero."""
    if math.isnan(v):
        body = "NaN"
    elif math.isinf(v):
        body = ("Infinity" if w >= 8 else "Inf") if v > 0 else ("-Infinity" if w >= 9 else "-Inf")
    else:
        q = Decimal(v).quantize(Decimal(1).scaleb(-d), rounding=ROUND_HALF_UP)
        neg = q < 0
        text = format(abs(q), "f")
        if d == 0:
            text += "."
        sign = "-" if neg else ""
        body = sign + text
        if len(body) > w and text.startswith("0."):
            body = sign + text[1:]
    if len(body) > w:
        return "*" * w
    return body.rjust(w)


def fmt_i(w, n):
    s = str(n)
    return "*" * w if len(s) > w else s.rjust(w)


def free(*items):
    """A free-format output line (without its line end)."""
    if not items:
        return ""
    out = " "
    prev_text = False
    for it in items:
        if isinstance(it, str):
            out += it
            prev_text = True
        else:
            if prev_text:
                out += " "
            out += str(it) + " "
            prev_text = False
    return out


def field36(name):
    return name[:36].ljust(36)


def div(a, b):
    """a / b with IEEE 754 results for a zero divisor."""
    if b != 0:
        return a / b
    if a == 0 or math.isnan(a):
        return math.nan
    return math.copysign(math.inf, a) * math.copysign(1.0, b)


def trunc(x):
    return int(x)  # toward zero


def round_away(y):
    """Round half away from zero; None when the result is not a 32-bit integer."""
    if math.isnan(y) or math.isinf(y):
        return None
    q = int(Decimal(y).quantize(Decimal(1), rounding=ROUND_HALF_UP))
    return q if -2**31 <= q <= 2**31 - 1 else None


# ---------------------------------------------------------------- model

class Model:
    def __init__(self, case):
        self.c = case
        self.out = []  # console lines
        self.files = {}

    # -- phases 1-3
    def opening(self):
        c = self.c
        self.wrtpts = c["ptname"] != "0"
        self.calib = c["calib"] and self.wrtpts
        self.t0 = 0.016666666666666666 * c["mm"] + c["hh"] + 0.0002777777777777778 * c["ss"]
        self.tstart = c["tstart"] if c["tstart"] >= self.t0 else self.t0
        self.out.append(" BEAMFALL - output laser scanner surface points")
        if not self.wrtpts:
            self.out.append(free("*** only vertical output"))
        if c["bin2dd"]:
            self.out.append(free("Riegl binary format (.2dd) assumed"))
        if c["nthin"] > 1:
            self.out.append(free("*** thinned output, every:", c["nthin"], " scan"))
        self.out.append(" offset/misalignment parameters used: " + "".join(
            fmt_f(6, 2, v) for v in (c["dx"], c["dy"], c["dz"], c["pitch0"], c["roll0"], c["heading0"])))

    # -- phase 4
    def geoid(self):
        g = self.c.get("geoid")
        self.g = None
        if g is None:
            return
        glat1, glat2, glon1, glon2, gdlat, gdlon = g["header"]
        nrow = trunc((glat2 - glat1) / gdlat + 1.5)
        ncol = trunc((glon2 - glon1) / gdlon + 1.5)
        rows = g["rows"]  # file order: northern row first
        assert len(rows) == nrow and all(len(r) == ncol for r in rows)
        table = []
        for k in range(nrow, 0, -1):  # table row 1 = file row nrow
            table.extend(f32(v) for v in rows[k - 1])
        self.g = dict(glat1=glat1, glon1=glon1, gdlat=gdlat, gdlon=gdlon, nrow=nrow, ncol=ncol, v=table)
        self.out.append(free("- geoid file read OK -", nrow, ncol))

    def bilin(self, x, y):
        g = self.g
        i, c = math.floor(x), math.floor(y)
        fx, fy = x - i, y - c
        if i < 1:
            i, fx = 1, 0.0
        elif i >= g["nrow"]:
            i, fx = g["nrow"] - 1, 1.0
        if c < 1:
            c, fy = 1, 0.0
        elif c >= g["ncol"]:
            c, fy = g["ncol"] - 1, 1.0
        k = (i - 1) * g["ncol"] + c  # 1-based
        v = g["v"]
        sw, nw, se, ne = v[k - 1], v[k - 1 + g["ncol"]], v[k], v[k + g["ncol"]]
        missing = lambda z: trunc(z) == 9999
        t = f32(0.0001)
        if fx <= t and fy <= t:
            return 9999.0 if missing(sw) else sw
        if any(missing(z) for z in (sw, nw, se, ne)):
            return 9999.0
        return sw * ((1 - fy) * (1 - fx)) + nw * ((1 - fy) * fx) + se * ((1 - fx) * fy) + ne * (fx * fy)

    def geoid_at(self, lat, lon):
        g = self.g
        return self.bilin((lat - g["glat1"]) / g["gdlat"] + 1, (lon - g["glon1"]) / g["gdlon"] + 1)

    # -- phase 5
    def trajectory(self):
        c = self.c
        tmin = self.tstart - 0.0002777777777777778
        tmax = c["tend"] + 0.0002777777777777778
        T = [None]
        for s in c["traj"]:
            vals = list(s) + [0.0] * (7 - len(s))
            if not c["gpsatt"]:
                vals = vals[:4] + [0.0, 0.0, 0.0]
            if vals[0] < tmin:
                continue
            if vals[0] > tmax:
                break
            T.append(vals)
        self.T = T
        n = len(T) - 1
        self.ngps = n
        vel = [0.0] * (n + 2)
        smin, smax = f32(9999.9), 0.0
        vmin, vmax = f32(9999.9), -f32(9999.9)
        for i in range(2, n + 1):
            dt = (T[i][0] - T[i - 1][0]) * 3600
            dlat = T[i][1] - T[i - 1][1]
            dlon = T[i][2] - T[i - 1][2]
            dist = 111194 * math.sqrt(dlat ** 2 + (dlon * math.cos(0.01745329252 * T[i][1])) ** 2)
            vel[i] = f32(dist / dt * f32(3.6))
            smin, smax = min(smin, dt), max(smax, dt)
            if vel[i] < vmin:
                vmin = vel[i]
            if vel[i] > vmax:
                vmax = vel[i]
        if n >= 2:
            vel[1] = vel[2]
        self.vel = vel
        self.out.append("")
        self.out.append(" GPS read:" + fmt_i(6, n) + " gps/attitude data, min max spacing (sec):"
                        + fmt_f(9, 2, smin) + fmt_f(9, 2, smax))
        self.out.append(" minimum and maximum velocity (km/h): " + fmt_f(8, 1, vmin) + fmt_f(8, 1, vmax))

    # -- phase 6 and 7: scanner
    def measurements_binary(self):
        c = self.c
        nmeas = c["nmeas"]
        runit, aunit, tunit = f32(0.008), f32(0.01), f32(0.00001)
        self.out.append(free("test", 47, 0))
        self.out.append("")
        self.out.append(" RIEGL HEADER bytes:" + fmt_i(4, 47) + ", bytes pr scan:" + fmt_i(5, 2 + 8 * nmeas)
                        + " bytes pr meas:" + fmt_i(5, 8))
        self.out.append(" measurements per scan:" + fmt_i(5, nmeas))
        self.out.append(" range,angle and timer units:" + fmt_f(12, 6, runit) + fmt_f(12, 6, aunit)
                        + fmt_f(12, 6, tunit))
        self.out.append("")
        scans = c["scans"]  # list of scans, each a list of (range, ampl byte, angle, timer) counts
        # scan-start search
        nwrap = 0
        p = 0
        tsec = tunit * scans[0][0][3]
        tprev = tsec
        nskip = 0
        while nwrap + 3600 * self.t0 + tsec < 3600 * self.tstart:
            nskip += 1
            p += 1
            tsec = tunit * scans[p][0][3]
            if tsec < tprev:
                nwrap += 1
                assert tprev + 0.025 - tsec >= f32(0.97), "no timer error lines in these cases"
            tprev = tsec
        scanno = nskip
        self.out.append(" Number of scans skipped in start of file:" + fmt_i(7, nskip))
        nscans = 0
        for s in range(p, len(scans)):
            nscans += 1
            scanno += 1
            self.newscan = True
            for k, (rc, ab, ac, tc) in enumerate(scans[s]):
                i = k + 1
                rng = runit * rc
                ampl = ab - 256 if ab >= 128 else ab
                angle = aunit * 2 * (ac % 10000)
                tsec = tunit * tc
                if tsec < tprev:
                    nwrap += 1
                    assert tprev + 0.025 - tsec >= f32(0.97), "no timer error lines in these cases"
                thr = (tsec + nwrap) * 0.0002777777777777778 + self.t0
                tprev = tsec
                if i == 1:
                    if nscans == 1:
                        self.out.append(" first scan used:" + fmt_i(6, scanno) + ", timer info: " + fmt_i(5, nwrap)
                                        + fmt_f(9, 5, tsec) + fmt_f(11, 7, thr))
                        self.out.append(free("Centre of scan data every 30 sec: "))
                        self.out.append("")
                    if c["nthin"] > 1 and nscans % c["nthin"] != 1:
                        break  # thinned out: the rest of the scan is passed over
                if thr > c["tend"]:
                    self.nscans = nscans
                    return
                m = dict(thr=thr, range=rng, ampl=ampl, angle=angle, i=i, scanno=scanno)
                self.nscans = nscans
                yield m
        self.nscans = nscans

    def measurements_text(self):
        c = self.c
        self.out.append(" Number of scans skipped in start of file:" + fmt_i(7, 0))
        nscans = scanno = nwrap = 0
        tprev = 0.0
        self.nscans = 0
        for (i, rng, ampl, angle, tsec) in c["records"]:
            if i == 1:
                nscans += 1
                scanno += 1
                self.newscan = True
            self.nscans = nscans
            if tsec < tprev:
                nwrap += 1
            thr = (tsec + nwrap) * 0.0002777777777777778 + self.t0
            tprev = tsec
            if c["nthin"] > 1 and nscans % c["nthin"] != 1:
                continue
            if thr > c["tend"]:
                return
            yield dict(thr=thr, range=rng, ampl=ampl, angle=angle, i=i, scanno=scanno)

    # -- per measurement
    def position(self, thr):
        T, n = self.T, self.ngps
        if n == 1:
            self.k, self.k1, self.frac, self.w = 1, 1, 0.0, 1.0
        else:
            while not (T[self.igps + 1][0] >= thr):
                self.igps += 1
                if self.igps > n - 1:
                    self.igps = n - 1
                    break
            k = self.igps
            frac = (thr - T[k][0]) / (T[k + 1][0] - T[k][0])
            if frac < 0:
                frac = 0.0
            if frac > 1:
                frac = 1.0
            self.k, self.k1, self.frac, self.w = k, k + 1, frac, 1 - frac
        a, b, f, w = T[self.k], T[self.k1], self.frac, self.w
        return w * a[1] + f * b[1], w * a[2] + f * b[2], w * a[3] + f * b[3]

    def attitude(self):
        c, T, f, w = self.c, self.T, self.frac, self.w
        a, b = T[self.k], T[self.k1]
        pitch = (w * a[4] + f * b[4]) + c["pitch0"]
        roll = (w * a[5] + f * b[5]) + c["roll0"]
        ha, hb = a[6], b[6]
        if ha * hb > -8100:
            head = w * ha + f * hb + c["heading0"]
        else:
            if ha < -90:
                head = w * (ha + 360) + f * hb + c["heading0"]
            else:
                head = w * ha + f * (hb + 360) + c["heading0"]
            if head > 180:
                head -= 360
        vel = self.vel[self.k] * w + self.vel[self.k1] * f
        return pitch, roll, head, vel

    def geolocate(self, m, lat_a, lon_a, h_a, pitch, roll, head, vel):
        c = self.c
        rng = m["range"]
        scanang = (m["angle"] - 100) * (-1) * GON
        if c["useatt"]:
            sH, cH = math.sin(head * DEG), math.cos(head * DEG)
            sP, cP = math.sin(pitch * DEG), math.cos(pitch * DEG)
            sR, cR = math.sin(roll * DEG), math.cos(roll * DEG)
            cL = math.cos(lat_a * DEG)
            x = c["dx"]
            y = c["dy"] - rng * math.sin(scanang)
            z = c["dz"] + rng * math.cos(scanang)
            N = cP * cH * x + (sP * cH * sR - cR * sH) * y + (sP * cH * cR + sR * sH) * z
            E = cP * sH * x + (sH * sP * sR + cR * cH) * y + (sH * sP * cR - cH * sR) * z
            D = -sP * x + cP * sR * y + cP * cR * z
            lat = lat_a + N * INV_M_PER_DEG
            lon = lon_a + E / (cL * 111120)
            h = h_a - D
            if self.g:
                h = h - self.geoid_at(lat, lon)
        else:
            W = vel * 1000
            lat = m["thr"] + div(rng * math.sin(pitch * DEG), W)
            lon = div(-rng * math.sin(roll * DEG + scanang), W)
            h = h_a - rng * math.cos(pitch * DEG) * math.cos(roll * DEG + scanang) - c["dz"]
            if self.g:
                h = h - self.geoid_at(lat_a, lon_a)
        return lat, lon, h, scanang

    def run(self):
        c = self.c
        self.opening()
        self.geoid()
        self.trajectory()
        self.out.append("")
        self.out.append(free("Reading scanner data from: ", field36(c["scanname"])))
        meas = self.measurements_binary() if c["bin2dd"] else self.measurements_text()
        self.igps = 1
        self.newscan = False
        st = dict(nrejampl=0, nrejscan=0, nrejrange=0, npout=0)
        mins = dict(range=9999.0, h_a=9999.0, lat_a=9999.0, lon_a=9999.0)
        maxs = dict(range=-9999.0, h_a=-9999.0, lat_a=-9999.0, lon_a=-9999.0)
        pts, cen, cal = [], [], []
        self.prevang, self.tlast = 999.0, 0.0
        group = None
        sums = dict(n=0, sx=0.0, sxx=0.0, sz=0.0, sxz=0.0)
        for m in meas:
            if m["ampl"] < c["amin"]:
                st["nrejampl"] += 1
                continue
            if m["i"] < c["ilo"] or m["i"] > c["ihi"]:
                st["nrejscan"] += 1
                continue
            if m["range"] <= c["rmin"]:
                st["nrejrange"] += 1
                continue
            lat_a, lon_a, h_a = self.position(m["thr"])
            if lat_a < c["latmin"] or lat_a > c["latmax"] or lon_a < c["lonmin"] or lon_a > c["lonmax"]:
                continue
            for key, v in (("h_a", h_a), ("range", m["range"]), ("lat_a", lat_a), ("lon_a", lon_a)):
                if v < mins[key]:
                    mins[key] = v
                if v > maxs[key]:
                    maxs[key] = v
            pitch, roll, head, vel = self.attitude()
            lat, lon, h, scanang = self.geolocate(m, lat_a, lon_a, h_a, pitch, roll, head, vel)
            p = dict(thr=m["thr"], lat=lat, lon=lon, h=h, h_a=h_a, scanang=scanang, ampl=m["ampl"], gcount=1)
            if c["naver"] > 1:
                here = [m["thr"], lat, lon, h, h_a, scanang, float(m["ampl"])]
                if self.newscan or group is None:
                    group = dict(s=here, n=1, i0=m["i"])
                    self.newscan = False
                    continue
                if m["i"] - group["i0"] < c["naver"]:
                    group["s"] = [a + b for a, b in zip(group["s"], here)]
                    group["n"] += 1
                    continue
                n = group["n"]
                mean = [v / n for v in group["s"][:6]]
                ampl = trunc(group["s"][6] / n + 0.5)
                p = dict(thr=mean[0], lat=mean[1], lon=mean[2], h=mean[3], h_a=mean[4], scanang=mean[5],
                         ampl=ampl, gcount=n)
                group = dict(s=here, n=1, i0=m["i"])
            p["i"], p["range"] = m["i"], m["range"]
            if self.wrtpts:
                if c["binout"]:
                    vals = [round_away(p["thr"] * 1e7), round_away(p["lat"] * 1e7), round_away(p["lon"] * 1e7),
                            round_away(p["h"] * 1000)]
                    vals = [-2**31 if v is None else v for v in vals]
                    pts.append(struct.pack("<iiiibB", *vals, p["ampl"], p["i"] & 0xFF))
                else:
                    line = (fmt_f(9, 6, p["thr"]) + fmt_f(10, 6, p["lat"]) + fmt_f(12, 6, p["lon"])
                            + fmt_f(8, 2, p["h"]) + " " + fmt_i(3, p["ampl"]) + fmt_i(4, p["i"]))
                    if c["naver"] > 1:
                        line += fmt_i(3, p["gcount"])
                    pts.append((line + "\n").encode())
            # centre
            if self.prevang >= 0 and p["scanang"] < 0:
                if self.nscans == 1 or p["thr"] - self.tlast > f32(0.0083333):
                    self.out.append(" " + fmt_i(6, m["scanno"]) + fmt_f(11, 7, p["thr"]) + fmt_f(10, 6, p["lat"])
                                    + fmt_f(11, 6, p["lon"]) + fmt_f(8, 2, p["h"]) + " " + fmt_i(3, p["ampl"]))
                    self.tlast = p["thr"]
                cen.append(" " + fmt_f(11, 7, p["thr"]) + fmt_f(10, 6, p["lat"]) + fmt_f(12, 6, p["lon"])
                           + fmt_f(8, 2, p["h"]) + " " + fmt_i(3, p["ampl"]) + fmt_f(8, 2, p["h_a"])
                           + fmt_f(8, 2, p["range"]) + "\n")
            st["npout"] += 1
            self.prevang = p["scanang"]
            if self.calib:
                xdist = math.tan(p["scanang"]) * p["h_a"]
                sums["n"] += 1
                sums["sx"] += xdist
                sums["sxx"] += xdist * xdist
                sums["sz"] += p["h"]
                sums["sxz"] += xdist * p["h"]
                cal.append(fmt_f(10, 2, xdist) + fmt_f(10, 2, p["h"]) + "\n")
        self.summary(st, mins, maxs, sums)
        files = {c["cenname"]: "".join(cen).encode()}
        if self.wrtpts:
            files[c["ptname"]] = b"".join(pts)
        if self.calib:
            files["scan.cal"] = "".join(cal).encode()
        self.files = files
        self.sums = sums
        return "".join(line + "\n" for line in self.out), files

    def summary(self, st, mins, maxs, sums):
        c = self.c
        o = self.out
        o.append("")
        o.append(free("Total number of scans read: ", self.nscans))
        o.append(free("Total number of points output: ", st["npout"]))
        o.append(" min and max laser range measured: " + fmt_f(9, 2, mins["range"]) + fmt_f(9, 2, maxs["range"]))
        o.append(" min and max flight elevation: " + fmt_f(9, 2, mins["h_a"]) + fmt_f(9, 2, maxs["h_a"]))
        o.append(" aircraft positions within area: " + "".join(
            fmt_f(9, 4, v) for v in (mins["lat_a"], maxs["lat_a"], mins["lon_a"], maxs["lon_a"])))
        o.append(free("scanpt data (thr,lat,lon,h,ampl,i) output on: ", field36(c["ptname"])))
        o.append(free("center pts (thr,lat,lon,h,ampl,i,airh,range): ", field36(c["cenname"])))
        o.append(free("number of REJECTED data due to: "))
        o.append(free("amplitude lower than ", c["amin"], st["nrejampl"], " meas."))
        o.append(free("scan out of range", c["ilo"], c["ihi"], st["nrejscan"], " meas."))
        o.append(free("measurements less than ", trunc(c["rmin"]), " meters", st["nrejrange"], " meas."))
        if self.calib:
            n = float(sums["n"])
            det = sums["sxx"] * n - sums["sx"] * sums["sx"]
            if det == 0:
                det = 1e-99
            bias = (sums["sxx"] * sums["sz"] - sums["sx"] * sums["sxz"]) / det
            slope = (n * sums["sxz"] - sums["sx"] * sums["sz"]) / det
            roll = -slope * 57.29577951289617
            o.append("")
            o.append(free("Regression of surface relative to ellipsoid/geoid:"))
            o.append(free("no of points: ", sums["n"]))
            o.append(" bias:" + fmt_f(7, 2, bias) + " m, slope (roll0):" + fmt_f(6, 2, roll) + " degrees")
            o.append(free('cross profiles written on file "scan.cal"'))
            self.bias, self.roll = bias, roll


# ---------------------------------------------------------------- inputs

def num(v):
    if isinstance(v, bool):
        return "T" if v else "F"
    return repr(v) if isinstance(v, float) else str(v)


def deck_text(c):
    lines = [c["scanname"], c["gpsname"], c.get("geoidname", "0"), c["ptname"], c["cenname"]]
    rows = [("hh", "mm", "ss"), ("tstart", "tend"), ("latmin", "latmax", "lonmin", "lonmax"),
            ("naver", "nthin", "bin2dd", "binout", "gpsatt", "calib", "useatt"), ("dx", "dy", "dz"),
            ("pitch0", "roll0", "heading0"), ("amin",), ("ilo", "ihi"), ("rmin",)]
    for r in rows:
        lines.append(" ".join(num(c[k]) for k in r))
    return "\n".join(lines) + "\n"


def base(**kw):
    c = dict(scanname="scan.txt", gpsname="traj.txt", geoidname="0", ptname="pts.txt", cenname="cen.txt",
             hh=10.0, mm=0, ss=0.0, naver=1, nthin=1, bin2dd=False, binout=False, gpsatt=True, calib=False,
             useatt=True, dx=0.0, dy=0.0, dz=0.0, pitch0=0.0, roll0=0.0, heading0=0.0, amin=0, ilo=1, ihi=1000,
             rmin=10.0, latmin=50.0, latmax=60.0, lonmin=0.0, lonmax=20.0)
    c.update(kw)
    return c


# ---------------------------------------------------------------- cases

def case_binary_points():
    """Binary scanner, binary point file, attitude, lever arm, misalignment, rejections."""
    scans = []
    for k in range(7):  # scan k (0-based); measurement n = 5k + j at 0.3 + 0.05 n s
        scan = []
        for j in range(5):
            n = 5 * k + j
            timer = (30000 + 5000 * n) % 100000
            rc = 55000 + 100 * j + 10 * k
            ab = 20 + j
            ac = 3000 + 1000 * j  # 60, 80, 100, 120, 140 gon
            if (k, j) == (2, 3):
                ab = 200  # -56: below amin 0
            if (k, j) == (3, 1):
                rc = 10000  # 80 m: not above rmin
            if (k, j) == (3, 2):
                ab, rc = 255, 5000  # -1 and 40 m: counted for the amplitude only
            scan.append((rc, ab, ac, timer))
        scans.append(scan)
    traj = [(9.9995, 54.9995, 8.9995, 450.0, 0.5, -1.0, 30.0),
            (10.0, 55.0, 9.0, 450.0, 1.0, -2.0, 30.0),
            (10.0005, 55.0005, 9.0005, 452.0, 1.5, -3.0, 32.0),
            (10.001, 55.001, 9.001, 454.0, 2.0, -4.0, 34.0),
            (10.0015, 55.0015, 9.0015, 456.0, 2.5, -5.0, 36.0)]
    return base(scanname="scan.2dd", ptname="pts.bin", bin2dd=True, binout=True, nmeas=5, scans=scans,
                traj=traj, tstart=10.0 + 0.5 / 3600, tend=10.0 + 1.62 / 3600,
                dx=0.5, dy=-0.3, dz=1.2, pitch0=0.1, roll0=-0.2, heading0=0.5,
                latmin=54.0, latmax=56.0, lonmin=8.0, lonmax=10.0, amin=0, ilo=2, ihi=5, rmin=100.0)


def case_text_geoid():
    """Text scanner and point file, a 3 x 4 geoid grid with one missing node."""
    records = []
    for k in range(6):  # scan k at 0.5 + 0.9 k s, measurements 0.1 s apart
        for j, angle in enumerate((70.0, 100.0, 130.0)):
            t = 0.5 + 0.9 * k + 0.1 * j
            tsec = round(t - math.floor(t), 3)
            records.append((j + 1, 600.25 + 10 * k + j, 30 + j, angle, tsec))
    traj = [(10.0, 55.0, 9.09, 700.0, 2.0, -1.0, 90.0),
            (10.001, 55.0, 9.1, 701.0, 2.0, -1.0, 90.0),
            (10.002, 55.0, 9.11, 702.0, 2.0, -1.0, 90.0)]
    geoid = dict(header=(54.9, 55.1, 8.9, 9.2, 0.1, 0.1),
                 rows=[[41.0, 41.2, 41.4, 9999.0],   # 55.1 N (northern row, first in the file)
                       [40.5, 40.7, 40.9, 41.1],     # 55.0 N
                       [40.0, 40.2, 40.4, 40.6]])    # 54.9 N
    return base(geoidname="geoid.txt", geoid=geoid, records=records, traj=traj, tstart=10.0, tend=10.01,
                rmin=10.0)


def case_averaging():
    """Text scanner, naver 3, cross profiles of the averaged points."""
    records = []
    angles = (40.0, 60.0, 80.0, 100.0, 120.0, 140.0, 160.0)
    for k in range(3):
        for j, angle in enumerate(angles):
            i = j + 1
            t = 0.1 + 0.4 * k + 0.02 * j
            ampl = 10 + 3 * j + k
            records.append((i, 300.0 + 5 * j + 50 * k, ampl, angle, round(t, 3)))
    # a measurement rejected for its range inside the first group of scan 2
    records[8] = (2, 5.0, 13, 60.0, records[8][4])
    # scan 3 begins with a measurement rejected for its amplitude: the next
    # one still starts a new group, and the group of scan 2 holding index 7 is
    # discarded
    records[14] = (1, 400.0, -5, 40.0, records[14][4])
    traj = [(10.0, 56.0, 10.0, 400.0, 0.0, 0.0, 0.0),
            (10.001, 56.001, 10.0, 400.0, 0.0, 0.0, 0.0)]
    return base(records=records, traj=traj, tstart=10.0, tend=10.001, naver=3, calib=True, amin=0)


def case_thinning():
    """Binary scanner, nthin 3: scans 1, 4 and 7 of 7 are used."""
    scans = []
    for k in range(7):
        scan = []
        for j in range(3):
            n = 3 * k + j
            scan.append((50000 + 10 * n, 40, 4000 + 1000 * j, 5000 + 4000 * n))  # 80, 100, 120 gon
        scans.append(scan)
    traj = [(10.0, 55.0, 9.0, 420.0, 0.0, 0.0, 0.0),
            (10.001, 55.001, 9.0, 420.0, 0.0, 0.0, 0.0)]
    return base(scanname="scan.2dd", bin2dd=True, nmeas=3, scans=scans, traj=traj, tstart=10.0, tend=10.001,
                nthin=3)


def case_profile():
    """Profile mode: no attitude, position-only trajectory, times in the lat and lon columns."""
    records = []
    for k in range(3):
        for j, angle in enumerate((50.0, 100.0, 150.0)):
            records.append((j + 1, 250.0 + 20 * j, 15, angle, round(0.2 + 0.3 * k + 0.05 * j, 3)))
    traj = [(10.0, 55.0, 9.0, 300.0, 7.0, 8.0, 9.0),
            (10.01, 55.01, 9.0, 310.0, 7.0, 8.0, 9.0)]
    return base(records=records, traj=traj, tstart=10.0, tend=10.01, useatt=False, gpsatt=False,
                dz=1.0, pitch0=1.5, roll0=0.5, heading0=45.0, dx=3.0, dy=4.0)


def case_no_point_file():
    """Point file "0" with calib: centre track only; the area window drops the later points."""
    records = []
    for k in range(4):
        for j, angle in enumerate((80.0, 100.0, 120.0)):
            records.append((j + 1, 500.0, 25, angle, round(0.1 + 0.25 * k + 0.05 * j, 3)))
    traj = [(10.0, 55.0, 9.0, 600.0, 0.0, 0.0, 0.0),
            (10.0003, 55.0003, 9.0, 600.0, 0.0, 0.0, 0.0)]
    return base(ptname="0", calib=True, records=records, traj=traj, tstart=10.0, tend=10.001,
                latmax=55.00015)


def case_calib():
    """Cross profiles on the plane h = 2 + 0.01 xdist: bias 2.00, roll -0.57."""
    records = []
    h_a = 1000.0
    for k in range(2):
        for j, angle in enumerate((60.0, 80.0, 100.0, 120.0, 140.0)):
            s = (angle - 100) * (-1) * GON
            xdist = math.tan(s) * h_a
            h = 2 + 0.01 * xdist
            rng = round((h_a - h) / math.cos(s), 6)
            records.append((j + 1, rng, 20, angle, round(0.1 + 0.3 * k + 0.02 * j, 3)))
    traj = [(10.0, 55.0, 9.0, h_a, 0.0, 0.0, 0.0),
            (10.001, 55.001, 9.0, h_a, 0.0, 0.0, 0.0)]
    return base(calib=True, records=records, traj=traj, tstart=10.0, tend=10.001)


def case_profile_zero_speed():
    """Profile mode over a trajectory at rest: infinite and undefined times in both files."""
    records = []
    for k in range(2):
        for j, angle in enumerate((100.0, 150.0)):
            records.append((j + 1, 250.0, 15, angle, round(0.2 + 0.3 * k + 0.05 * j, 3)))
    traj = [(10.0, 55.0, 9.0, 300.0), (10.01, 55.0, 9.0, 300.0)]
    return base(records=records, traj=traj, tstart=10.0, tend=10.01, useatt=False, gpsatt=False,
                binout=True, ptname="pts.bin")


CASES = {
    "geo_binary_points": case_binary_points,
    "geo_text_geoid": case_text_geoid,
    "geo_averaging": case_averaging,
    "geo_thinning": case_thinning,
    "geo_profile": case_profile,
    "geo_no_point_file": case_no_point_file,
    "geo_calib": case_calib,
    "geo_profile_zero_speed": case_profile_zero_speed,
}


def write_case(name, c):
    d = os.path.join(CASES_DIR, name)
    os.makedirs(d, exist_ok=True)
    exp = os.path.join(d, "expected")
    if os.path.isdir(exp):
        shutil.rmtree(exp)
    os.makedirs(os.path.join(exp, "files"))
    with open(os.path.join(d, "deck"), "w") as f:
        f.write(deck_text(c))
    with open(os.path.join(d, "traj.txt"), "w") as f:
        for s in c["traj"]:
            f.write(" ".join(num(v) for v in s) + "\n")
    if c["bin2dd"]:
        with open(os.path.join(d, c["scanname"] + ".txt"), "w") as f:
            f.write("# generated by tests/e2e/calc/geo_cases.py\n")
            f.write("header nmeas=%d\n" % c["nmeas"])
            for scan in c["scans"]:
                f.write("scan\n")
                for m in scan:
                    f.write("m %d %d %d %d\n" % m)
    else:
        with open(os.path.join(d, c["scanname"]), "w") as f:
            for (i, rng, ampl, angle, tsec) in c["records"]:
                f.write("%d %s %d %s %s\n" % (i, num(rng), ampl, num(angle), num(tsec)))
    if c.get("geoid"):
        with open(os.path.join(d, "geoid.txt"), "w") as f:
            f.write(" ".join(num(v) for v in c["geoid"]["header"]) + "\n")
            for row in c["geoid"]["rows"]:
                f.write(" ".join(num(v) for v in row) + "\n")
    model = Model(c)
    stdout, files = model.run()
    with open(os.path.join(exp, "stdout"), "w") as f:
        f.write(stdout)
    for fname, data in files.items():
        with open(os.path.join(exp, "files", fname), "wb") as f:
            f.write(data)
    absent = []
    if not model.wrtpts:
        absent.append("0")
    if not model.calib:
        absent.append("scan.cal")
    if absent:
        with open(os.path.join(exp, "absent"), "w") as f:
            f.write("\n".join(absent) + "\n")
    return model


if __name__ == "__main__":
    names = sys.argv[1:] or list(CASES)
    for name in names:
        write_case(name, CASES[name]())
        print("wrote", name)
