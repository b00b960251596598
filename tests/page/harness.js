// Opens the page in headless Chromium with the fake host and a virtual clock, in one of the
// engine profiles: "modern" (Chromium as it is), "ie8" (what IE8's document mode lacks is
// taken away, see legacy-engine.js) and "ie7" (ie8 without JSON).
//
// Tests read the page through evaluate(), which goes over a CDP session of its own: the
// playwright evaluation helpers need ES5 library functions that a legacy profile deletes
// from the page's world. Snippets run in that world, so they use only what IE8 has, or the
// probes of the fake host.
'use strict';
const assert = require('assert');
const fs = require('fs');
const path = require('path');

const repo = path.resolve(__dirname, '..', '..');
const site = process.env.PAGE_SITE || path.join(repo, 'build', 'page-site');
const artifacts = process.env.PAGE_ARTIFACTS || path.join(repo, 'build', 'page-artifacts');
const fakeSource = fs.readFileSync(path.join(__dirname, 'fake-external.js'), 'utf8');
const legacySource = fs.readFileSync(path.join(__dirname, 'legacy-engine.js'), 'utf8');

const PROFILES = ['modern', 'ie8', 'ie7'];
let profile = 'modern';

// A later start, so that a full check runs by itself unless a test says otherwise.
const LATER_START = { IsFirstTime: false };
const NOW = new Date('2025-03-10T09:30:00+08:00');

// Items as a check configuration would list them.
const ITEMS = [
  { name: '网银安全控件', type: 'ocx', flag: 'ocx', keyid: '' },
  { name: '个人网银安全组件', type: 'safe_per', flag: 'safeper', keyid: '', extra: { user: 2 } },
  { name: '企业网银安全组件', type: 'safe_corp', flag: 'safecorp', keyid: '', extra: { user: 4 } },
  { name: '飞天USBKEY驱动', type: 'key', flag: 'ft2_key_per1', keyid: '096e0305' },
];

class PageUnderTest {
  constructor(context, page, cdp) {
    this.context = context;
    this.page = page;
    this.cdp = cdp;
    this.profile = profile;
    this.pageErrors = [];
    this.earlierFaults = [];    // of the pages this test loaded before the current one
    this.open = false;          // a test's page is loaded
    page.on('pageerror', (e) => this.pageErrors.push(String(e)));
  }

  // Runs fn(arg) in the page's own world and answers its value (as JSON would carry it).
  async evaluate(fn, arg) {
    const expression = '(' + fn + ')(' + (arg === undefined ? '' : JSON.stringify(arg)) + ')';
    const r = await this.cdp.send('Runtime.evaluate', { expression, returnByValue: true });
    if (r.exceptionDetails) {
      const ex = r.exceptionDetails.exception;
      throw new Error('in page: ' + ((ex && ex.description) || r.exceptionDetails.text));
    }
    return 'unserializableValue' in r.result ? Number(r.result.unserializableValue) : r.result.value;
  }

  // Moves the virtual clock; timers due in that span fire in order.
  async run(ms) {
    await this.page.clock.runFor(ms);
  }

  // Runs the clock until the page's queue and the host's worker are idle.
  async settle(limit = 60000) {
    for (let spent = 0; spent < limit; spent += 1000) {
      await this.run(1000);
      const idle = await this.evaluate(() => {
        const s = Velmora.snapshot();
        return !s.busy && s.queued === 0 && window.__native.pending() === 0 && !s.state.keyRefreshing;
      });
      if (idle) return;
    }
    throw new Error('page did not settle within ' + limit + ' ms of virtual time');
  }

  native(fn, arg) {
    return this.evaluate(fn, arg);
  }

  // Commands the page ran ({ via, name, args, t }; absent arguments read null).
  async calls(name, via) {
    const all = await this.evaluate(() => window.__native.calls);
    return all.filter((c) => c.name === name && (!via || c.via === via));
  }

  async messages() {
    return (await this.evaluate(() => window.__native.messages)).map((m) => m.text);
  }

  // Records every value the element shows from now on: its text, or a style property.
  watch(selector, styleProp) {
    return this.evaluate((a) => window.__native.watch(a[0], a[1], a[2]),
      [selector + (styleProp || ''), selector, styleProp || null]);
  }

  watched(selector, styleProp) {
    return this.evaluate((key) => window.__native.watched[key], selector + (styleProp || ''));
  }

  style(selector, prop) {
    return this.evaluate((a) => window.__native.style(a[0], a[1]), [selector, prop]);
  }

  setting(key) {
    return this.evaluate((k) => {
      const s = window.__native.settings[k];
      return s ? s.v : undefined;
    }, key);
  }

  visible(selector) {
    return this.page.locator(selector).isVisible();
  }

  text(selector) {
    return this.page.locator(selector).innerText();
  }

  // The texts of every matching element, read element by element: locator.allInnerTexts
  // needs playwright's helpers in the page's world, which a legacy profile breaks.
  async innerTexts(selector) {
    const all = this.page.locator(selector);
    const texts = [];
    for (let i = 0, n = await all.count(); i < n; i++) texts.push(await all.nth(i).innerText());
    return texts;
  }

  // Row texts of one result list, as "id|name|text|visible links".
  rows(listId) {
    return this.evaluate((id) => window.__native.rows(id), listId);
  }

  async rowIds(listId) {
    return (await this.rows(listId)).map((r) => r.split('|')[0]);
  }

  async screenshot(name) {
    fs.mkdirSync(artifacts, { recursive: true });
    await this.page.screenshot({ path: path.join(artifacts, this.profile + '-' + name + '.png') });
  }

  // Faults the page raised, the fake host caught, or the page reported as ending a step.
  async faults() {
    const host = await this.evaluate(() => ({ errors: window.__native.errors, debug: window.__native.debug }));
    return this.earlierFaults.concat(this.pageErrors, host.errors, host.debug.filter((t) => t.startsWith('page fault')));
  }

  // Loads the page again in the same tab with another host configuration: much cheaper than
  // a new browser context. Virtual time goes back to the configured start.
  async reopen(cfg = {}) {
    const earlier = this.open ? await this.faults() : [];
    this.pageErrors.length = 0;
    await this.page.goto('about:blank');
    await this.page.clock.setSystemTime(new Date(cfg.now || NOW));
    await this.page.goto(pageUrl(cfg));
    this.earlierFaults = earlier;
    this.open = true;
  }

  // The tab goes back to the pool for the next test, which loads the page afresh. A page
  // that faulted on the way fails the test.
  async close() {
    const faults = await this.faults();
    this.open = false;
    this.earlierFaults = [];
    await this.page.goto('about:blank');
    pool.push(this);
    assert.deepStrictEqual(faults, [], 'the page faulted');
  }
}

// Opened tabs, reused across tests: a new browser context costs far more than a new load.
const pool = [];

let loads = 0;

// The host configuration travels in the fragment, where the fake host reads it.
function pageUrl(cfg) {
  return 'file://' + path.join(site, 'index.html') + '?load=' + ++loads + '#' + encodeURIComponent(JSON.stringify(cfg));
}

async function openPage(browser, cfg = {}) {
  const reused = pool.pop();
  if (reused) {
    await reused.reopen(cfg);
    return reused;
  }
  const context = await browser.newContext({
    viewport: { width: 760, height: 520 },
    timezoneId: 'Asia/Shanghai',
    locale: 'zh-CN',
  });
  // Nothing leaves the machine: only the page's own files load.
  await context.route(/^(?!file:)/, (route) => route.abort());
  const page = await context.newPage();
  // Virtual time stands still unless a test moves it. It flows from install until paused,
  // so install well before; nothing runs yet that could notice.
  const now = new Date(cfg.now || NOW).getTime();
  await page.clock.install({ time: now - 60000 });
  await page.clock.pauseAt(now);
  await page.addInitScript(fakeSource.replace('__CFG__',
    'location.protocol === "file:" && location.hash ? JSON.parse(decodeURIComponent(location.hash.slice(1))) : null'));
  if (profile !== 'modern') {
    await page.addInitScript(legacySource.replace('__PROFILE__', JSON.stringify(profile)));
  }
  const opened = new PageUnderTest(context, page, await context.newCDPSession(page));
  await page.goto(pageUrl(cfg));
  opened.open = true;
  return opened;
}

// Switches the engine profile of the pages opened from now on; the tabs of the previous one
// are closed.
async function useProfile(name) {
  if (!PROFILES.includes(name)) throw new Error('unknown profile ' + name);
  while (pool.length) await pool.pop().context.close();
  profile = name;
}

async function closeAll() {
  while (pool.length) await pool.pop().context.close();
}

module.exports = { openPage, useProfile, closeAll, PROFILES, ITEMS, LATER_START, NOW, site, artifacts };
