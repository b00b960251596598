// Opens the page in headless Chromium with the fake host and a virtual clock.
'use strict';
const fs = require('fs');
const path = require('path');

const repo = path.resolve(__dirname, '..', '..');
const site = process.env.PAGE_SITE || path.join(repo, 'build', 'page-site');
const artifacts = process.env.PAGE_ARTIFACTS || path.join(repo, 'build', 'page-artifacts');
const fakeSource = fs.readFileSync(path.join(__dirname, 'fake-external.js'), 'utf8');

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
  constructor(context, page) {
    this.context = context;
    this.page = page;
    this.pageErrors = [];
    page.on('pageerror', (e) => this.pageErrors.push(String(e)));
  }

  // Moves the virtual clock; timers due in that span fire in order.
  async run(ms) {
    await this.page.clock.runFor(ms);
  }

  // Runs the clock until the page's queue and the host's worker are idle.
  async settle(limit = 60000) {
    for (let spent = 0; spent < limit; spent += 1000) {
      await this.run(1000);
      const idle = await this.page.evaluate(() => {
        const s = Velmora.snapshot();
        return !s.busy && s.queued === 0 && window.__native.pending() === 0 && !s.state.keyRefreshing;
      });
      if (idle) return;
    }
    throw new Error('page did not settle within ' + limit + ' ms of virtual time');
  }

  native(fn, arg) {
    return this.page.evaluate(fn, arg);
  }

  calls(name, via) {
    return this.page.evaluate(
      ([n, v]) => window.__native.calls.filter((c) => c.name === n && (!v || c.via === v)),
      [name, via || null]);
  }

  messages() {
    return this.page.evaluate(() => window.__native.messages.map((m) => m.text));
  }

  // Records every value the element shows from now on: its text, or a style property.
  watch(selector, styleProp) {
    return this.page.evaluate(([sel, prop]) => {
      window.__watched = window.__watched || {};
      const seen = (window.__watched[sel + (prop || '')] = []);
      const el = document.querySelector(sel);
      const read = () => (prop ? el.style[prop] : el.innerText);
      new MutationObserver(() => {
        const v = read();
        if (seen[seen.length - 1] !== v) seen.push(v);
      }).observe(el, { attributes: true, childList: true, characterData: true, subtree: true });
    }, [selector, styleProp || null]);
  }

  watched(selector, styleProp) {
    return this.page.evaluate((key) => window.__watched[key], selector + (styleProp || ''));
  }

  style(selector, prop) {
    return this.page.evaluate(([sel, p]) => getComputedStyle(document.querySelector(sel))[p], [selector, prop]);
  }

  setting(key) {
    return this.page.evaluate((k) => {
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

  // Row texts of one result list, as "name|text|links".
  async rows(listId) {
    return this.page.evaluate((id) => {
      return Array.prototype.map.call(document.querySelectorAll('#' + id + ' tr.item'), (tr) => {
        const links = Array.prototype.filter
          .call(tr.querySelectorAll('td.op a'), (a) => a.style.display !== 'none')
          .map((a) => a.textContent);
        return [tr.id, tr.querySelector('td.name').textContent, tr.querySelector('td.text').textContent]
          .concat(links).join('|');
      });
    }, listId);
  }

  async rowIds(listId) {
    return this.page.evaluate(
      (id) => Array.prototype.map.call(document.querySelectorAll('#' + id + ' tr.item'), (tr) => tr.id), listId);
  }

  async screenshot(name) {
    fs.mkdirSync(artifacts, { recursive: true });
    await this.page.screenshot({ path: path.join(artifacts, name + '.png') });
  }

  // Faults the page itself raised or the fake host caught.
  async faults() {
    const hostErrors = await this.page.evaluate(() => window.__native.errors);
    return this.pageErrors.concat(hostErrors);
  }

  // Loads the page again in the same tab with another host configuration: much cheaper than
  // a new browser context. Virtual time goes back to the configured start.
  async reopen(cfg = {}) {
    this.pageErrors.length = 0;
    await this.page.goto('about:blank');
    await this.page.clock.setSystemTime(new Date(cfg.now || NOW));
    await this.page.goto(pageUrl(cfg));
  }

  // The tab goes back to the pool for the next test, which loads the page afresh.
  async close() {
    await this.page.goto('about:blank');
    pool.push(this);
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
  const opened = new PageUnderTest(context, page);
  await page.goto(pageUrl(cfg));
  return opened;
}

module.exports = { openPage, ITEMS, LATER_START, NOW, site, artifacts };
