// A virtual X display (Xvfb) for the tests that need QUIL's real app
// window: its screen as pixels (Xvfb keeps it in an XWD file), keys typed
// as a person types them (xdotool), and the comparison of the screen with
// what the page itself draws.
import { spawn, execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { deflateSync, inflateSync } from 'node:zlib';

export const hasXvfb = existsSync('/usr/bin/Xvfb') && existsSync('/usr/bin/xdotool');

// Starts Xvfb on a free display number; resolves to { display, screen(), key(), type(), stop() }.
export function startXvfb({ width = 1366, height = 768 } = {}) {
  const dir = mkdtempSync(join(tmpdir(), 'quil-xvfb-'));
  const child = spawn('/usr/bin/Xvfb', ['-displayfd', '3', '-screen', '0', `${width}x${height}x24`,
    '-fbdir', dir, '-nolisten', 'tcp'], { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
  const exited = new Promise((res) => child.on('exit', res));
  let stderr = '';
  child.stderr.on('data', (d) => { stderr += d; });
  return new Promise((res, rej) => {
    const timer = setTimeout(() => rej(new Error('Xvfb did not start: ' + stderr)), 20000);
    let out = '';
    child.stdio[3].on('data', (d) => {
      out += d;
      if (!out.includes('\n')) return;
      clearTimeout(timer);
      const display = ':' + out.trim();
      const xdotool = (...args) => execFileSync('/usr/bin/xdotool', args, { env: { DISPLAY: display } });
      res({
        display,
        screen: () => readXwd(join(dir, 'Xvfb_screen0')),
        // Keys through the X server, as a keyboard sends them: the browser's
        // own shortcuts (zoom) see them too.
        key: (...keys) => xdotool('key', '--delay', '40', ...keys),
        type: (text) => xdotool('type', '--delay', '40', text),
        // The pointer out of the way of the screen's comparison.
        parkPointer: () => xdotool('mousemove', String(width - 1), String(height - 1)),
        async stop() {
          child.kill('SIGTERM');
          await exited;
          rmSync(dir, { recursive: true, force: true });
        },
      });
    });
    child.on('exit', () => rej(new Error('Xvfb ended: ' + stderr)));
  });
}

// An XWD screen dump of 24-bit depth in 32-bit pixels: { width, height, rgb(x, y) }.
export function readXwd(path) {
  const data = readFileSync(path);
  const u32 = (i) => data.readUInt32BE(i * 4);
  const headerSize = u32(0);
  const width = u32(4);
  const height = u32(5);
  const byteOrder = u32(7);
  const bitsPerPixel = u32(11);
  const bytesPerLine = u32(12);
  const colors = u32(19);
  if (bitsPerPixel !== 32) throw new Error('unexpected XWD pixel size ' + bitsPerPixel);
  const start = headerSize + colors * 12;
  return {
    width, height,
    rgb(x, y) {
      const v = byteOrder === 0 ? data.readUInt32LE(start + y * bytesPerLine + x * 4)
        : data.readUInt32BE(start + y * bytesPerLine + x * 4);
      return [(v >> 16) & 255, (v >> 8) & 255, v & 255];
    },
  };
}

// An 8-bit RGB or RGBA PNG, not interlaced (what Chromium's screenshots are).
export function readPng(buffer) {
  let pos = 8;
  let width = 0; let height = 0; let channels = 0;
  const idat = [];
  while (pos < buffer.length) {
    const length = buffer.readUInt32BE(pos);
    const type = buffer.toString('latin1', pos + 4, pos + 8);
    const body = buffer.subarray(pos + 8, pos + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[12] !== 0 || ![2, 6].includes(body[9])) throw new Error('unexpected PNG form');
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') {
      idat.push(body);
    }
    pos += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  const pixels = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? pixels[y * stride + i - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + i] : 0;
      const c = i >= channels && y > 0 ? pixels[(y - 1) * stride + i - channels] : 0;
      let predicted = 0;
      if (filter === 1) predicted = a;
      else if (filter === 2) predicted = b;
      else if (filter === 3) predicted = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c;
        const pa = Math.abs(p - a); const pb = Math.abs(p - b); const pc = Math.abs(p - c);
        predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      pixels[y * stride + i] = (line[i] + predicted) & 255;
    }
  }
  return {
    width, height,
    rgb: (x, y) => [...pixels.subarray(y * stride + x * channels, y * stride + x * channels + 3)],
  };
}

// The share of the page's pixels that differ on the screen, the page's
// top-left corner being at (left, top) of the screen: anything the browser
// lays over the page (a bubble, a bar) shows up here.
export function coveredShare(screen, page, left, top) {
  let differ = 0;
  let total = 0;
  for (let y = 0; y < page.height; y++) {
    for (let x = 0; x < page.width; x++) {
      total += 1;
      if (left + x >= screen.width || top + y >= screen.height) { differ += 1; continue; }
      const [r1, g1, b1] = page.rgb(x, y);
      const [r2, g2, b2] = screen.rgb(left + x, top + y);
      if (Math.abs(r1 - r2) + Math.abs(g1 - g2) + Math.abs(b1 - b2) > 60) differ += 1;
    }
  }
  return differ / total;
}

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = CRC_TABLE[(c ^ b) & 255] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

// Writes the screen (readXwd) as an RGB PNG.
export function writeScreenPng(screen, path) {
  const stride = screen.width * 3 + 1;
  const raw = Buffer.alloc(stride * screen.height);
  for (let y = 0; y < screen.height; y++)
    for (let x = 0; x < screen.width; x++) raw.set(screen.rgb(x, y), y * stride + 1 + x * 3);
  const chunk = (type, body) => {
    const head = Buffer.alloc(8);
    head.writeUInt32BE(body.length, 0);
    head.write(type, 4, 'latin1');
    const tail = Buffer.alloc(4);
    tail.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), body])), 0);
    return Buffer.concat([head, body, tail]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(screen.width, 0);
  header.writeUInt32BE(screen.height, 4);
  header.set([8, 2, 0, 0, 0], 8);
  writeFileSync(path, Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header),
    chunk('IDAT', deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]));
}
