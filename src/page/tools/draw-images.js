#!/usr/bin/env node
// Draws the page's icons as PNG files (anti-aliased shapes, no external tools).
//   node src/page/tools/draw-images.js [output dir]   (default: src/page/images)
'use strict';
const fs = require('fs');
const path = require('path');
const zlib = require('zlib');

const CRC_TABLE = (() => {
  const t = new Int32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    t[n] = c;
  }
  return t;
})();

function crc32(buf) {
  let c = -1;
  for (const b of buf) c = CRC_TABLE[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ -1) >>> 0;
}

function chunk(type, data) {
  const len = Buffer.alloc(4);
  len.writeUInt32BE(data.length);
  const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([len, body, crc]);
}

function encodePng(w, h, rgba) {
  const raw = Buffer.alloc((w * 4 + 1) * h);
  for (let y = 0; y < h; y++) {
    raw[y * (w * 4 + 1)] = 0;
    rgba.copy(raw, y * (w * 4 + 1) + 1, y * w * 4, (y + 1) * w * 4);
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(w, 0);
  ihdr.writeUInt32BE(h, 4);
  ihdr[8] = 8; // bit depth
  ihdr[9] = 6; // RGBA
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw, { level: 9 })),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

// A canvas painted by coverage functions: cover(x, y) in [0,1] for a point, sampled 4x4 per pixel.
function canvas(w, h) {
  const px = new Float64Array(w * h * 4);
  return {
    fill(cover, [r, g, b, a = 1]) {
      for (let y = 0; y < h; y++) {
        for (let x = 0; x < w; x++) {
          let c = 0;
          for (let sy = 0; sy < 4; sy++)
            for (let sx = 0; sx < 4; sx++) c += cover(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4) ? 1 : 0;
          const al = (c / 16) * a;
          if (!al) continue;
          const i = (y * w + x) * 4;
          const da = px[i + 3];
          const oa = al + da * (1 - al);
          px[i] = (r * al + px[i] * da * (1 - al)) / oa;
          px[i + 1] = (g * al + px[i + 1] * da * (1 - al)) / oa;
          px[i + 2] = (b * al + px[i + 2] * da * (1 - al)) / oa;
          px[i + 3] = oa;
        }
      }
    },
    png() {
      const out = Buffer.alloc(w * h * 4);
      for (let i = 0; i < w * h; i++) {
        out[i * 4] = Math.round(px[i * 4]);
        out[i * 4 + 1] = Math.round(px[i * 4 + 1]);
        out[i * 4 + 2] = Math.round(px[i * 4 + 2]);
        out[i * 4 + 3] = Math.round(px[i * 4 + 3] * 255);
      }
      return encodePng(w, h, out);
    },
  };
}

const circle = (cx, cy, r) => (x, y) => (x - cx) ** 2 + (y - cy) ** 2 <= r * r;
// A thick line segment from (x1,y1) to (x2,y2) with half width hw.
const segment = (x1, y1, x2, y2, hw) => (x, y) => {
  const dx = x2 - x1, dy = y2 - y1;
  const t = Math.max(0, Math.min(1, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)));
  return (x - x1 - t * dx) ** 2 + (y - y1 - t * dy) ** 2 <= hw * hw;
};
const rect = (x1, y1, x2, y2) => (x, y) => x >= x1 && x <= x2 && y >= y1 && y <= y2;
// Shield: flat top, sides curving into a point at the bottom.
const shield = (cx, top, w, h) => (x, y) => {
  const t = (y - top) / h;
  if (t < 0 || t > 1) return false;
  const half = t < 0.45 ? w / 2 : (w / 2) * Math.sqrt(Math.max(0, 1 - ((t - 0.45) / 0.55) ** 2));
  return Math.abs(x - cx) <= half;
};
const WHITE = [255, 255, 255];

const images = {
  'true.png': () => {
    const c = canvas(16, 16);
    c.fill(circle(8, 8, 7.5), [0, 150, 80]);
    c.fill((x, y) => segment(4.3, 8.3, 7, 11, 1.1)(x, y) || segment(7, 11, 11.8, 5.2, 1.1)(x, y), WHITE);
    return c;
  },
  'false.png': () => {
    const c = canvas(16, 16);
    c.fill(circle(8, 8, 7.5), [205, 35, 20]);
    c.fill((x, y) => segment(5, 5, 11, 11, 1.1)(x, y) || segment(11, 5, 5, 11, 1.1)(x, y), WHITE);
    return c;
  },
  'warn.png': () => {
    const c = canvas(16, 16);
    c.fill(circle(8, 8, 7.5), [30, 110, 200]);
    c.fill((x, y) => segment(8, 4, 8, 8.8, 1.1)(x, y) || circle(8, 11.6, 1.25)(x, y), WHITE);
    return c;
  },
  'anquan.png': () => {
    const c = canvas(18, 18);
    c.fill(shield(9, 1, 14, 16), [0, 150, 80]);
    c.fill((x, y) => segment(5.6, 8.6, 8, 11, 1)(x, y) || segment(8, 11, 12.4, 5.8, 1)(x, y), WHITE);
    return c;
  },
  'anquan1.png': () => {
    const c = canvas(18, 18);
    c.fill(shield(9, 1, 14, 16), [150, 150, 150]);
    c.fill((x, y) => segment(6.5, 6, 11.5, 11, 1)(x, y) || segment(11.5, 6, 6.5, 11, 1)(x, y), WHITE);
    return c;
  },
  'logo.png': () => {
    const c = canvas(24, 24);
    c.fill(shield(12, 1.5, 19, 21), [255, 255, 255]);
    c.fill(shield(12, 3.5, 15, 17), [178, 20, 30]);
    c.fill((x, y) => rect(7.5, 8, 16.5, 10)(x, y) || rect(10.8, 8, 13.2, 17)(x, y), [255, 255, 255]);
    return c;
  },
};

const outDir = process.argv[2] || path.join(__dirname, '..', 'images');
fs.mkdirSync(outDir, { recursive: true });
for (const [name, draw] of Object.entries(images)) {
  fs.writeFileSync(path.join(outDir, name), draw().png());
}
