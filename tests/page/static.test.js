// What the page needs from its files, checked without a browser.
'use strict';
const assert = require('assert');
const fs = require('fs');
const path = require('path');
const { site } = require('./harness');

const pageDir = path.resolve(__dirname, '..', '..', 'src', 'page');

test('the IE engine is asked for its newest mode before anything else loads', async () => {
  const html = fs.readFileSync(path.join(pageDir, 'index.html'), 'utf8');
  const head = html.slice(0, html.indexOf('</head>'));
  const meta = head.indexOf('<meta http-equiv="X-UA-Compatible" content="IE=edge">');
  assert.ok(meta > 0, 'X-UA-Compatible IE=edge is missing');
  for (const tag of ['<link', '<script', '<style']) {
    const at = head.indexOf(tag);
    assert.ok(at < 0 || at > meta, tag + ' comes before the compatibility meta');
  }
  assert.ok(/^<!DOCTYPE html>/i.test(html));
}, { once: true });

test('every file the page addresses by relative URL is there, and nothing else is needed', async () => {
  const html = fs.readFileSync(path.join(site, 'index.html'), 'utf8');
  const referenced = new Set();
  for (const m of html.matchAll(/(?:src|href)="([^"]+)"/g)) {
    if (!/^(javascript:|https?:|#)/.test(m[1])) referenced.add(m[1]);
  }
  for (const f of fs.readdirSync(path.join(pageDir, 'js'))) {
    const js = fs.readFileSync(path.join(pageDir, 'js', f), 'utf8');
    for (const m of js.matchAll(/'(images\/[\w.-]+\.png)'/g)) referenced.add(m[1]);
  }
  const css = fs.readFileSync(path.join(pageDir, 'css', 'main.css'), 'utf8');
  for (const m of css.matchAll(/url\(["']?([^"')]+)["']?\)/g)) referenced.add(path.posix.join('css', m[1]));
  for (const ref of referenced) {
    assert.ok(fs.existsSync(path.join(site, ref)), 'missing ' + ref);
  }
  assert.deepStrictEqual([...referenced].filter((r) => r.startsWith('js/')).sort(),
    ['js/index.js', 'js/jquery.min.js', 'js/main.js', 'js/velmora.js']);
  // Each image is a real PNG.
  for (const ref of [...referenced].filter((r) => r.endsWith('.png'))) {
    const head = fs.readFileSync(path.join(site, ref)).subarray(0, 8);
    assert.deepStrictEqual([...head], [0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a], ref);
  }
  // The library versions the page is written for.
  assert.ok(fs.readFileSync(path.join(site, 'js', 'jquery.min.js'), 'utf8').includes('v1.12.4'));
}, { once: true });
