// Checks a LAS file written by beamfall with a reader that is not ours
// (@loaders.gl/las, LAZRsLoader: positions, intensity, classification) and,
// for the fields it does not decode, a small decoder written from the LAS 1.4
// R15 tables here.
//
// usage: node check_las.mjs FILE.las [--points POINTS.bin] [--day-start S]
//          [--line-id N] [--created DAY,YEAR] [--naver N] [--fixture [--range-offset M]]
//   always:      header invariants (sizes, offsets, counts, bounds, VLRs)
//   --points:    every point against the binary point file of the same run
//   --fixture:   the hand-worked values of las_case.sh's rolled-aircraft fixture
import fs from 'node:fs';
import path from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const lasDir = path.join(here, 'node_modules/@loaders.gl/las');
if (!fs.existsSync(lasDir)) {
  console.error(`check_las: ${lasDir} is missing: run 'npm ci' in ${here}`);
  process.exit(1);
}
const {parse} = await import('@loaders.gl/core');
const {LAZRsLoader} = await import('@loaders.gl/las');
// In Node the loader can't fetch its .wasm by URL: hand it the file's bytes.
const wasmDir = path.join(lasDir, 'dist/libs/laz-rs-wasm');
const initLazRs = (await import(pathToFileURL(path.join(wasmDir, 'laz_rs_wasm.js')).href)).default;
await initLazRs({module_or_path: fs.readFileSync(path.join(wasmDir, 'laz_rs_wasm_bg.wasm'))});

let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    if (failures <= 20) console.error('FAIL: ' + what);
  }
}

const args = process.argv.slice(2);
const file = args[0];
const opt = (name) => {
  const k = args.indexOf(name);
  return k < 0 ? undefined : args[k + 1];
};
const buf = fs.readFileSync(file);
const dv = new DataView(buf.buffer, buf.byteOffset, buf.byteLength);
const text = (off, n) => buf.subarray(off, off + n).toString('latin1').replace(/\0+$/, '');

// ---- header (LAS 1.4 R15, Table 3) ----
const H = {
  signature: text(0, 4),
  fileSourceId: dv.getUint16(4, true),
  globalEncoding: dv.getUint16(6, true),
  version: `${buf[24]}.${buf[25]}`,
  systemId: text(26, 32),
  software: text(58, 32),
  day: dv.getUint16(90, true),
  year: dv.getUint16(92, true),
  headerSize: dv.getUint16(94, true),
  pointOffset: dv.getUint32(96, true),
  nvlr: dv.getUint32(100, true),
  format: buf[104],
  recordLength: dv.getUint16(105, true),
  legacyCount: dv.getUint32(107, true),
  scale: [131, 139, 147].map((o) => dv.getFloat64(o, true)),
  offset: [155, 163, 171].map((o) => dv.getFloat64(o, true)),
  max: [179, 195, 211].map((o) => dv.getFloat64(o, true)),
  min: [187, 203, 219].map((o) => dv.getFloat64(o, true)),
  waveformStart: dv.getBigUint64(227, true),
  evlrStart: dv.getBigUint64(235, true),
  nevlr: dv.getUint32(243, true),
  count: Number(dv.getBigUint64(247, true)),
  byReturn: [...Array(15).keys()].map((k) => Number(dv.getBigUint64(255 + 8 * k, true))),
};
check(H.signature === 'LASF', 'signature');
check(H.version === '1.4', 'version ' + H.version);
check(H.headerSize === 375, 'header size');
check(H.format === 6, 'point format');
check(H.globalEncoding === 17, 'global encoding: adjusted standard GPS time and WKT');
check(/^Beamfall \d/.test(H.systemId) && /^Beamfall \d/.test(H.software), 'system and software');
check(H.legacyCount === 0, 'legacy point count');
for (let k = 0; k < 5; k++) check(dv.getUint32(111 + 4 * k, true) === 0, 'legacy by return');
check(H.waveformStart === 0n && H.evlrStart === 0n && H.nevlr === 0, 'no waveforms or EVLRs');
check(H.byReturn[0] === H.count && H.byReturn.slice(1).every((n) => n === 0), 'points by return');
check(H.scale[2] === 0.001 && [1e-9, 1e-8, 1e-7].includes(H.scale[0]) && H.scale[0] === H.scale[1],
      'scales ' + H.scale);
check((buf.length - H.pointOffset) === H.count * H.recordLength,
      `file size ${buf.length}: ${H.count} records of ${H.recordLength} after ${H.pointOffset}`);
const lineId = Number(opt('--line-id') ?? 1);
check(H.fileSourceId === lineId, 'file source ID');
if (opt('--created')) {
  const [day, year] = opt('--created').split(',').map(Number);
  check(H.day === day && H.year === year, `creation day ${H.day}/${H.year}`);
}

// ---- VLRs ----
let at = H.headerSize;
let wkt = null;
let extra = null;
for (let v = 0; v < H.nvlr; v++) {
  const user = text(at + 2, 16);
  const id = dv.getUint16(at + 18, true);
  const len = dv.getUint16(at + 20, true);
  const body = buf.subarray(at + 54, at + 54 + len);
  if (user === 'LASF_Projection' && id === 2112) {
    check(body[len - 1] === 0 && body.indexOf(0) === len - 1, 'WKT null-terminated once');
    wkt = body.subarray(0, len - 1).toString('utf8');
  }
  if (user === 'LASF_Spec' && id === 4) {
    check(len % 192 === 0, 'extra bytes VLR length');
    extra = [];
    for (let o = 0; o < len; o += 192) {
      const d = at + 54 + o;
      extra.push({type: buf[d + 2], options: buf[d + 3], name: text(d + 4, 32),
                  scale: dv.getFloat64(d + 112, true), description: text(d + 160, 32)});
    }
  }
  at += 54 + len;
}
check(at === H.pointOffset, `VLRs end at ${at}, points start at ${H.pointOffset}`);
check(H.nvlr === 2 && wkt !== null && extra !== null, 'projection and extra bytes VLRs');
const typeSize = {1: 1, 2: 1, 3: 2, 4: 2, 5: 4, 6: 4, 7: 8, 8: 8, 9: 4, 10: 8};
const extraSize = extra.reduce((s, e) => s + typeSize[e.type], 0);
check(30 + extraSize === H.recordLength, 'extra bytes fill the record');
const names = extra.map((e) => e.name);
check(names.slice(0, 3).join('|') === 'amplitude|measurement index|range', 'extra names ' + names);
check(extra[2].options === 8 && extra[2].scale === 0.001, 'range in millimetre counts');
const naver = Number(opt('--naver') ?? 1);
check((naver > 1) === (extra.length === 4) && (naver <= 1 || names[3] === 'group count'),
      'group count described exactly when averaging');
if (wkt !== null) fs.writeFileSync(file + '.wkt', wkt);

// ---- points, own decoder (Table 13, format 6, then the extra bytes) ----
const P = [];
for (let k = 0; k < H.count; k++) {
  const o = H.pointOffset + k * H.recordLength;
  P.push({
    X: dv.getInt32(o, true), Y: dv.getInt32(o + 4, true), Z: dv.getInt32(o + 8, true),
    intensity: dv.getUint16(o + 12, true), returns: buf[o + 14], flags: buf[o + 15],
    cls: buf[o + 16], user: buf[o + 17], angle: dv.getInt16(o + 18, true),
    source: dv.getUint16(o + 20, true), time: dv.getFloat64(o + 22, true),
    ampl: dv.getInt8(o + 30), index: dv.getInt32(o + 31, true),
    rangeMm: dv.getInt32(o + 35, true),
    gcount: H.recordLength > 39 ? dv.getUint32(o + 39, true) : 1,
  });
}
const lo = [Infinity, Infinity, Infinity];
const hi = [-Infinity, -Infinity, -Infinity];
for (const p of P) {
  [p.X, p.Y, p.Z].forEach((v, a) => {
    lo[a] = Math.min(lo[a], v);
    hi[a] = Math.max(hi[a], v);
  });
  check(p.returns === 0x11 && p.cls === 0 && p.user === 0 && p.source === lineId,
        'return 1 of 1, class 0, point source ID');
  check(p.intensity === (p.ampl + 128) * 256, 'intensity from the amplitude');
  check(p.gcount >= 1 && p.gcount <= Math.max(naver, 1), 'group count within the averaging span');
}
if (H.count > 0) {
  for (let a = 0; a < 3; a++) {
    check(H.min[a] === H.offset[a] + lo[a] * H.scale[a], `minimum ${a} is the smallest point`);
    check(H.max[a] === H.offset[a] + hi[a] * H.scale[a], `maximum ${a} is the largest point`);
  }
}

// ---- the independent reader ----
const mesh = await parse(buf.buffer.slice(buf.byteOffset, buf.byteOffset + buf.length),
                         LAZRsLoader, {las: {fp64: true}, worker: false});
const pos = mesh.attributes.POSITION.value;
const inten = mesh.attributes.intensity.value;
check(pos.length === 3 * H.count, `loaders.gl reads ${pos.length / 3} points, header ${H.count}`);
for (let k = 0; k < H.count; k++) {
  check(mesh.attributes.classification.value[k] === 0, 'loaders.gl classification');
  check(inten[k] === P[k].intensity, 'loaders.gl intensity');
}

// ---- against the binary point file of the same run ----
const dayStart = Number(opt('--day-start') ?? NaN);
if (opt('--points')) {
  const bin = fs.readFileSync(opt('--points'));
  const bv = new DataView(bin.buffer, bin.byteOffset, bin.byteLength);
  const n = bin.length / 18;
  check(n === H.count, `binary point file has ${n} points, LAS ${H.count}`);
  // Half a unit of each format's last digit, and a little for the arithmetic.
  const tolDeg = 0.5e-7 + 0.5 * H.scale[0] + 1e-12;
  for (let k = 0; k < Math.min(n, H.count); k++) {
    const o = 18 * k;
    const thr = bv.getInt32(o, true) / 1e7;
    const lat = bv.getInt32(o + 4, true) / 1e7;
    const lon = bv.getInt32(o + 8, true) / 1e7;
    const hMm = bv.getInt32(o + 12, true);
    const ampl = bv.getInt8(o + 16);
    const idx = bin[o + 17];
    check(Math.abs(pos[3 * k] - lon) <= tolDeg, `point ${k} longitude ${pos[3 * k]} vs ${lon}`);
    check(Math.abs(pos[3 * k + 1] - lat) <= tolDeg, `point ${k} latitude ${pos[3 * k + 1]} vs ${lat}`);
    // Both files round the same height to millimetres.
    check(Math.abs(pos[3 * k + 2] - hMm / 1000) < 1e-9, `point ${k} height`);
    check(inten[k] === (ampl + 128) * 256, `point ${k} intensity`);
    check(P[k].ampl === ampl && (P[k].index & 0xff) === idx, `point ${k} amplitude and index`);
    check(Math.abs(P[k].time - (dayStart + thr * 3600)) <= 0.5e-7 * 3600 + 1e-6,
          `point ${k} time ${P[k].time} vs ${dayStart + thr * 3600}`);
    check(P[k].rangeMm > 0, `point ${k} range`);
    // The last point of each scan (the beam index starts again after it) is the edge.
    const last = k + 1 === n || bin[o + 18 + 17] <= idx;
    check(((P[k].flags >> 7) & 1) === (last ? 1 : 0), `point ${k} edge of flight line`);
    // Within a scan the direction flag follows the scan angle: rising is left to right.
    if (!last && Math.abs(P[k + 1].angle - P[k].angle) > 5)
      check(((P[k].flags >> 6) & 1) === (P[k + 1].angle > P[k].angle ? 1 : 0),
            `point ${k} scan direction`);
  }
}

// ---- the hand-worked fixture of las_case.sh ----
if (args.includes('--fixture')) {
  // scan 1: 60 80 100 120 140 gon, scan 2: 140 120 100, scan 3: 100; roll 10 degrees.
  const want = [
    // angle (0.006 deg), direction, edge, index, range mm
    [-7667, 1, 0, 1, 1224615], [-4667, 1, 0, 2, 1045943], [-1667, 1, 0, 3, 998000],
    [1333, 1, 0, 4, 1052776], [4333, 1, 1, 5, 1242576],
    [4333, 0, 0, 1, 1242576], [1333, 0, 0, 2, 1052776], [-1667, 0, 1, 3, 998000],
    [-1667, 0, 1, 1, 998000],
  ];
  check(H.count === want.length, 'fixture point count');
  want.forEach(([angle, dir, edge, index, mm], k) => {
    const p = P[k] ?? {};
    check(p.angle === angle, `fixture point ${k} scan angle ${p.angle}, want ${angle}`);
    check(((p.flags >> 6) & 1) === dir && ((p.flags >> 7) & 1) === edge,
          `fixture point ${k} flags ${p.flags}`);
    // --range-offset M: the run added M metres to every range as it was read.
    const wantMm = mm + Math.round(1000 * Number(opt('--range-offset') ?? 0));
    check(p.index === index && p.rangeMm === wantMm && p.ampl === 20,
          `fixture point ${k} extra bytes ${p.index} ${p.rangeMm} ${p.ampl}, want range ${wantMm}`);
    // t0 10 h, timer 0.1 s per measurement from 0.1 s
    const t = dayStart + 36000 + 0.1 * (k + 1);
    check(Math.abs(p.time - t) < 1e-6, `fixture point ${k} time ${p.time}, want ${t}`);
  });
}

if (failures > 0) {
  console.error(`check_las: ${failures} failed checks in ${file}`);
  process.exit(1);
}
console.log(`check_las: ${file}: ${H.count} points, ${H.recordLength}-byte records, all checks passed`);
