// A small test runner: one Chromium for all tests, the whole suite once per engine profile
// (modern, ie8, ie7; see harness.js), one combined count at the end.
//   node tests/page/runner.js [name filter]        PAGE_PROFILES=ie8,ie7 picks profiles
// test(name, fn) runs in every profile; test(name, fn, { once: true }) only in the first
// (for tests that do not open the page).
'use strict';
const fs = require('fs');
const path = require('path');
const { chromium } = require('playwright-core');
const harness = require('./harness');

const tests = [];
global.test = (name, fn, options) => tests.push({ name, fn, once: !!(options && options.once) });

const filter = process.argv[2] || '';
const profiles = (process.env.PAGE_PROFILES || harness.PROFILES.join(',')).split(',').filter(Boolean);
const PER_TEST_MS = 60000;

function withTimeout(promise, ms) {
  let timer;
  return Promise.race([
    promise,
    new Promise((_, reject) => {
      timer = setTimeout(() => reject(new Error('timed out after ' + ms + ' ms')), ms);
    }),
  ]).finally(() => clearTimeout(timer));
}

async function main() {
  for (const f of fs.readdirSync(__dirname).filter((n) => n.endsWith('.test.js')).sort()) {
    require(path.join(__dirname, f));
  }
  // launch() gives the browser a fresh temporary --user-data-dir of its own and removes it
  // on close; it refuses one passed in args.
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
    ],
  });
  let passed = 0;
  let failed = 0;
  const started = Date.now();
  try {
    for (const [n, profile] of profiles.entries()) {
      await harness.useProfile(profile);
      const chosen = tests.filter((t) => (!filter || t.name.includes(filter)) && (!t.once || n === 0));
      const counts = await runAll(browser, profile, chosen);
      passed += counts.passed;
      failed += counts.failed;
    }
    await harness.closeAll();
  } finally {
    await browser.close();
  }
  console.log(`page tests: ${((Date.now() - started) / 1000).toFixed(1)} s`);
  return { passed, failed };
}

async function runAll(browser, profile, chosen) {
  let passed = 0;
  let failed = 0;
  // Tests are independent (own context, own virtual clock), so two run side by side;
  // results are printed in declaration order.
  const jobs = Math.max(1, parseInt(process.env.PAGE_TEST_JOBS || '2', 10));
  const results = new Array(chosen.length);
  let nextIndex = 0;
  let printed = 0;
  const flush = () => {
    while (printed < chosen.length && results[printed]) {
      const r = results[printed++];
      if (r.error) {
        failed++;
        console.log(`FAIL [${profile}] ${r.name} (${r.ms} ms)`);
        console.log('     ' + String((r.error && r.error.stack) || r.error).split('\n').slice(0, 8).join('\n     '));
      } else {
        passed++;
        console.log(`ok   [${profile}] ${r.name} (${r.ms} ms)`);
      }
    }
  };
  const worker = async () => {
    while (nextIndex < chosen.length) {
      const i = nextIndex++;
      const t = chosen[i];
      const t0 = Date.now();
      let error = null;
      try {
        await withTimeout(t.fn(browser), PER_TEST_MS);
      } catch (e) {
        error = e || new Error('failed');
      }
      results[i] = { name: t.name, ms: Date.now() - t0, error };
      flush();
    }
  };
  await Promise.all(Array.from({ length: jobs }, worker));
  return { passed, failed };
}

main().then(
  ({ passed, failed }) => {
    console.log(`browser tests: ${passed} passed, ${failed} failed`);
    process.exit(failed ? 1 : 0);
  },
  (e) => {
    console.log(String((e && e.stack) || e));
    console.log('browser tests: 0 passed, 1 failed');
    process.exit(1);
  });
