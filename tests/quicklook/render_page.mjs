// Loads a page of the tools (quick look, campaign summary, calibration) in headless Chromium,
// driven over the DevTools protocol on a pipe (file descriptors 3 and 4 of the browser), and
// checks it: no console error or uncaught exception, no request beyond the page itself and
// its data: URIs, and every picture (an image, or an inline SVG figure) decoded and visibly
// drawn, judged from the pixels of a screenshot of the whole page. At a phone's width (--width
// 600 or less, laid out as a phone browser does) the page must also fit: nothing wider than
// the screen, so that no figure is cut off or needs sideways scrolling.
//
// usage: node render_page.mjs [--width PX] PAGE.html [SCREENSHOT.png]   (exit 0: all checks
//        passed; the default width is 1100 px)
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { pathToFileURL } from 'node:url';
import { inflateSync } from 'node:zlib';

const args = process.argv.slice(2);
let width = 1100;
if (args[0] === '--width') {
  width = Number(args[1]);
  args.splice(0, 2);
}
const [page, shotPath] = args;
if (!page || !(width >= 200 && width <= 4000)) {
  console.error('usage: node render_page.mjs [--width PX] PAGE.html [SCREENSHOT.png]');
  process.exit(2);
}
const phone = width <= 600;
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const profile = mkdtempSync(join(tmpdir(), 'quicklook-chromium-'));
const browser = spawn(chromium, [
  '--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--disable-extensions', '--hide-scrollbars',
  `--user-data-dir=${profile}`, '--remote-debugging-pipe',
], { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });

// ---- the protocol: JSON messages ended by a NUL byte ----
const toBrowser = browser.stdio[3], fromBrowser = browser.stdio[4];
let nextId = 1, pending = new Map(), listeners = [], carry = Buffer.alloc(0);
fromBrowser.on('data', (chunk) => {
  carry = Buffer.concat([carry, chunk]);
  for (let end; (end = carry.indexOf(0)) >= 0; carry = carry.subarray(end + 1)) {
    const msg = JSON.parse(carry.subarray(0, end).toString('utf8'));
    if (msg.id && pending.has(msg.id)) {
      const { resolve: ok, reject, method } = pending.get(msg.id);
      pending.delete(msg.id);
      msg.error ? reject(new Error(`${method}: ${msg.error.message}`)) : ok(msg.result);
    } else if (msg.method) {
      for (const l of listeners) l(msg);
    }
  }
});
function send(method, params = {}, sessionId) {
  const id = nextId++;
  toBrowser.write(JSON.stringify({ id, method, params, sessionId }) + '\0');
  return new Promise((ok, reject) => pending.set(id, { resolve: ok, reject, method }));
}
function waitFor(method, ms) {
  return new Promise((ok, reject) => {
    const timer = setTimeout(() => reject(new Error(`no ${method} within ${ms} ms`)), ms);
    listeners.push((m) => { if (m.method === method) { clearTimeout(timer); ok(m.params); } });
  });
}

// ---- PNG decoding for the pixel statistics (8-bit RGB or RGBA, not interlaced) ----
function decodePng(buf) {
  let pos = 8, width = 0, height = 0, type = 0, idat = [];
  while (pos < buf.length) {
    const len = buf.readUInt32BE(pos), kind = buf.toString('latin1', pos + 4, pos + 8);
    const data = buf.subarray(pos + 8, pos + 8 + len);
    if (kind === 'IHDR') {
      width = data.readUInt32BE(0); height = data.readUInt32BE(4); type = data[9];
      if (data[8] !== 8 || (type !== 2 && type !== 6) || data[12] !== 0)
        throw new Error('screenshot PNG is not 8-bit RGB(A), non-interlaced');
    } else if (kind === 'IDAT') idat.push(data);
    pos += 12 + len;
  }
  const bpp = type === 6 ? 4 : 3, stride = width * bpp, raw = inflateSync(Buffer.concat(idat));
  const px = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const f = raw[y * (stride + 1)], src = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; x++) {
      const a = x >= bpp ? px[y * stride + x - bpp] : 0, b = y > 0 ? px[(y - 1) * stride + x] : 0;
      const c = x >= bpp && y > 0 ? px[(y - 1) * stride + x - bpp] : 0;
      const pred = [0, a, b, (a + b) >> 1, paeth(a, b, c)][f];
      px[y * stride + x] = (src[x] + pred) & 255;
    }
  }
  return { width, height, bpp, px };
}
function paeth(a, b, c) {
  const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}
// Share of pixels in the rectangle that differ from white, and how many colours it holds.
function inkStats(img, r) {
  let ink = 0, n = 0; const colours = new Set();
  for (let y = Math.max(0, Math.floor(r.y)); y < Math.min(img.height, Math.floor(r.y + r.h)); y++)
    for (let x = Math.max(0, Math.floor(r.x)); x < Math.min(img.width, Math.floor(r.x + r.w)); x++) {
      const o = (y * img.width + x) * img.bpp, R = img.px[o], G = img.px[o + 1], B = img.px[o + 2];
      n++;
      if (R + G + B < 720) ink++;
      if (colours.size < 5000) colours.add((R << 16) | (G << 8) | B);
    }
  return { ink: n ? ink / n : 0, colours: colours.size, pixels: n };
}

// ---- the checks ----
const failures = [];
async function check() {
  const { targetId } = await send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  const url = pathToFileURL(resolve(page)).href;
  listeners.push((m) => {
    if (m.sessionId !== sessionId) return;
    const p = m.params;
    if (m.method === 'Runtime.exceptionThrown') failures.push(`exception: ${p.exceptionDetails.text}`);
    if (m.method === 'Runtime.consoleAPICalled' && (p.type === 'error' || p.type === 'assert'))
      failures.push(`console ${p.type}: ${p.args.map((a) => a.value ?? a.description).join(' ')}`);
    if (m.method === 'Log.entryAdded' && p.entry.level === 'error')
      failures.push(`console error: ${p.entry.text} ${p.entry.url ?? ''}`);
    if (m.method === 'Network.requestWillBeSent' && p.request.url !== url &&
        !p.request.url.startsWith('data:'))
      failures.push(`network request: ${p.request.url}`);
  });
  for (const domain of ['Page', 'Runtime', 'Log', 'Network']) await send(`${domain}.enable`, {}, sessionId);
  await send('Emulation.setDeviceMetricsOverride',
    { width, height: 900, deviceScaleFactor: 1, mobile: phone }, sessionId);
  const loaded = waitFor('Page.loadEventFired', 30000);
  await send('Page.navigate', { url }, sessionId);
  await loaded;
  const { result } = await send('Runtime.evaluate', {
    // The pictures: every <img>, and every inline <svg> that is not inside another.
    expression: `JSON.stringify([...document.images, ...Array.from(document.querySelectorAll('svg'))
        .filter((s) => !s.parentElement.closest('svg'))].map((i) => {
      const r = i.getBoundingClientRect(), img = i instanceof HTMLImageElement;
      return { alt: img ? i.alt : (i.getAttribute('aria-label') ||
                                   i.querySelector('title')?.textContent || 'inline svg'),
               complete: img ? i.complete : true,
               natural: img ? i.naturalWidth * i.naturalHeight : r.width * r.height,
               x: r.x + scrollX, y: r.y + scrollY, w: r.width, h: r.height }; }))`,
    awaitPromise: true, returnByValue: true }, sessionId);
  const images = JSON.parse(result.value);
  if (phone) await checkFits(sessionId);
  await checkTickLabels(sessionId);
  await checkFigureText(sessionId);
  const { cssContentSize: size } = await send('Page.getLayoutMetrics', {}, sessionId);
  const shot = await send('Page.captureScreenshot', { format: 'png', captureBeyondViewport: true,
    clip: { x: 0, y: 0, width: size.width, height: size.height, scale: 1 } }, sessionId);
  const png = Buffer.from(shot.data, 'base64');
  if (shotPath) writeFileSync(shotPath, png);
  const img = decodePng(png);
  const whole = inkStats(img, { x: 0, y: 0, w: img.width, h: img.height });
  console.log(`page ${img.width}x${img.height} px, ${(100 * whole.ink).toFixed(1)} % ink, ${images.length} images`);
  if (images.length === 0) failures.push('no image on the page');
  for (const im of images) {
    const s = inkStats(img, im);
    console.log(`  ${im.alt.slice(0, 60)}: ${Math.round(im.w)}x${Math.round(im.h)} px, ` +
      `${(100 * s.ink).toFixed(1)} % ink, ${s.colours} colours`);
    if (!im.complete || im.natural === 0) failures.push(`image not decoded: ${im.alt}`);
    else if (im.w < 100 || im.h < 100) failures.push(`image drawn too small: ${im.alt}`);
    else if (s.ink < 0.01 || s.colours < 16) failures.push(`image blank in the screenshot: ${im.alt}`);
  }
}

// At a phone's width: the page is laid out for the screen (not shrunk from a desktop width) and
// nothing sticks out of it, but what scrolls sideways in a box of its own (a wide table).
async function checkFits(sessionId) {
  const { result } = await send('Runtime.evaluate', {
    expression: `(() => {
      const scrolled = (e) => {
        for (let a = e.parentElement; a && a !== document.body; a = a.parentElement)
          if (['auto', 'scroll'].includes(getComputedStyle(a).overflowX)) return true;
        return false;
      };
      return JSON.stringify({ inner: innerWidth, scroll: document.documentElement.scrollWidth,
        wide: [...document.body.querySelectorAll('*')].filter((e) =>
          e.getBoundingClientRect().right > innerWidth + 1 && !scrolled(e)).map((e) =>
          e.tagName.toLowerCase() + (e.closest('figure') ? ' in a figure' : '')).slice(0, 5) });
    })()`,
    returnByValue: true }, sessionId);
  const fit = JSON.parse(result.value);
  console.log(`phone layout: ${fit.inner} px wide, content ${fit.scroll} px`);
  if (fit.inner > width + 1) failures.push(`laid out ${fit.inner} px wide on a ${width} px screen`);
  if (fit.scroll > fit.inner + 1 || fit.wide.length)
    failures.push(`wider than the screen (${fit.scroll} px): ${fit.wide.join(', ')}`);
}

// No axis of an inline figure labels two of its ticks alike (gnuplot's own ticks did, for
// values all alike: 0.00100, 0.00100, 0.00101). An axis's labels are the numbers in one row
// (centred on one height) or one column (ending at one right edge) of the figure.
async function checkTickLabels(sessionId) {
  const { result } = await send('Runtime.evaluate', {
    expression: `JSON.stringify([...document.querySelectorAll('svg')]
      .filter((s) => !s.parentElement.closest('svg')).flatMap((svg, n) => {
        const axes = new Map();
        for (const t of svg.querySelectorAll('text')) {
          const label = t.textContent.trim(), r = t.getBoundingClientRect();
          if (!/^[-+]?[0-9]*[.]?[0-9]+$/.test(label) || r.width === 0) continue;
          for (const key of ['row ' + Math.round(r.top + r.height / 2), 'column ' + Math.round(r.right)])
            axes.set(key, [...(axes.get(key) ?? []), label]);
        }
        return [...axes].filter(([, labels]) => labels.length >= 3 &&
                                  new Set(labels).size < labels.length)
          .map(([key, labels]) => 'figure ' + (n + 1) + ', ' + key + ': ' + labels.join(' '));
      }))`,
    returnByValue: true }, sessionId);
  for (const repeat of JSON.parse(result.value)) failures.push(`tick labels repeated: ${repeat}`);
}

// Every text of an inline figure is inside the figure and clear of the others: a title wider
// than its picture was cut off, and a key drawn over an axis label hid it.
async function checkFigureText(sessionId) {
  const { result } = await send('Runtime.evaluate', {
    expression: `JSON.stringify([...document.querySelectorAll('svg')]
      .filter((s) => !s.parentElement.closest('svg')).flatMap((svg, n) => {
        const box = svg.getBoundingClientRect(), found = [];
        const texts = [...svg.querySelectorAll('text')].map((t) =>
          ({ s: t.textContent.trim(), r: t.getBoundingClientRect() })).filter((t) => t.s && t.r.width);
        for (const t of texts)
          if (t.r.left < box.left - 1 || t.r.right > box.right + 1 || t.r.top < box.top - 1 ||
              t.r.bottom > box.bottom + 1)
            found.push('figure ' + (n + 1) + ': "' + t.s + '" cut off at its edge');
        const area = (r) => Math.max(0, r.width) * Math.max(0, r.height);
        for (let i = 0; i < texts.length; i++)
          for (let j = i + 1; j < texts.length; j++) {
            const a = texts[i].r, b = texts[j].r;
            // gnuplot writes a boxed label twice at one place: the box's text and its own.
            if (texts[i].s === texts[j].s && Math.abs(a.left - b.left) < 1 &&
                Math.abs(a.top - b.top) < 1) continue;
            const common = area({ width: Math.min(a.right, b.right) - Math.max(a.left, b.left),
                                  height: Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top) });
            if (common > 0.25 * Math.min(area(a), area(b)))
              found.push('figure ' + (n + 1) + ': "' + texts[i].s + '" over "' + texts[j].s + '"');
          }
        return found;
      }))`,
    returnByValue: true }, sessionId);
  for (const problem of JSON.parse(result.value)) failures.push(`figure text: ${problem}`);
}

const exited = new Promise((ok) => browser.once('exit', ok));
let status = 0;
try {
  await check();
} catch (e) {
  failures.push(String(e.message ?? e));
} finally {
  // The profile is removed once the browser has stopped writing to it.
  send('Browser.close').catch(() => {});
  const timer = setTimeout(() => browser.kill('SIGKILL'), 5000);
  await exited;
  clearTimeout(timer);
  rmSync(profile, { recursive: true, force: true, maxRetries: 3 });
}
for (const f of failures) console.log(`FAIL ${f}`);
if (failures.length) status = 1;
process.exit(status);
