// The real page against the real engine: the developer host runs under Wine in the demo's broken
// prefix, with the demo bank's document, and headless Chromium drives the page as a customer
// would. Started by tests/devhost/run.sh, which prepares the prefix and the bank; the environment
// names what it prepared:
//   DEVHOST_EXE  the host, inside the prefix     DOCUMENT_URL  the demo bank's check document
//   WINEPREFIX   the prefix (Wine environment)   WINE64        the Wine loader
//   ARTIFACTS    where screenshots and the host's output go
'use strict';
const assert = require('assert');
const fs = require('fs');
const path = require('path');
const { spawn, execFileSync } = require('child_process');
const { chromium } = require('playwright-core');

const env = process.env;
const artifacts = env.ARTIFACTS;
const hostsFile = path.join(env.WINEPREFIX, 'drive_c', 'windows', 'system32', 'drivers', 'etc', 'hosts');
const BANK_HOST = 'ebank.velmora-bank.test';
const CONTROL_KEY = 'HKLM\\SOFTWARE\\Velmora Demo Bank\\SecCtl';
const CONTROL_ROW = '#idCheckFailed tr.item:has-text("网银安全控件（演示）")';
const RUN_KEY = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run';

function log(text) {
  console.log('[e2e] ' + text);
}

// Starts the host and answers its URL once it prints one.
function startHost(round) {
  const logPath = path.join(artifacts, 'host-' + round + '.log');
  const output = fs.createWriteStream(logPath);
  // run.sh opens Wine's error channel, so a host that fails to start says why in its log.
  const child = spawn(env.WINE64, [env.DEVHOST_EXE, '--config', env.DOCUMENT_URL], { stdio: ['ignore', 'pipe', 'pipe'] });
  child.stderr.pipe(output);
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  const printed = { text: '' };
  child.stdout.on('data', (chunk) => {
    printed.text += chunk.toString('utf8');
  });
  const url = new Promise((resolve, reject) => {
    let seen = '';
    const timer = setTimeout(() => reject(new Error('the host printed no URL within 120 s:\n' + seen)), 120000);
    child.stdout.on('data', (chunk) => {
      output.write(chunk);
      seen += chunk.toString('utf8');
      const m = /URL: (http:\/\/127\.0\.0\.1:\d+\/[0-9a-f]{32}\/)/.exec(seen);
      if (m) {
        clearTimeout(timer);
        resolve(m[1]);
      }
    });
    exited.then((code) =>
      reject(new Error('the host ended (' + code + ') before printing its URL (its log: ' + logPath + '):\n' + seen)),
    );
  });
  return { child, url, exited, printed };
}

// A registry value of the prefix as Wine's reg tool reads it, in the 32- or 64-bit view; none when absent.
function registryValue(key, name) {
  for (const view of ['/reg:32', '/reg:64']) {
    try {
      const text = execFileSync(env.WINE64, ['reg', 'query', key, '/v', name, view], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] });
      const m = new RegExp(name + '\\s+REG_\\w+\\s+(.*)').exec(text);
      if (m) return m[1].trim();
    } catch (e) {
      // not in this view
    }
  }
  return null;
}

async function waitFor(what, probe, ms) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await new Promise((r) => setTimeout(r, 250));
  }
}

// The page's state after a check: no step running or queued.
async function settled(page, ms) {
  await waitFor('the page to finish its work', () =>
    page.evaluate(() => {
      const s = window.Velmora && window.Velmora.snapshot && window.Velmora.snapshot();
      return !!s && !s.busy && s.queued === 0;
    }), ms);
}

function rowIds(page, list) {
  return page.$$eval('#' + list + ' tr.item', (rows) => rows.map((r) => r.id + '|' + r.innerText.replace(/\s+/g, ' ')));
}

async function openPage(browser, url, dialogs) {
  // The customer's browser trusts the bank's certificate (the demo bank makes a root of its own).
  const context = await browser.newContext({ viewport: { width: 760, height: 520 }, locale: 'zh-CN', ignoreHTTPSErrors: true });
  const page = await context.newPage();
  page.on('pageerror', (e) => dialogs.errors.push(String(e)));
  // Every file of the page and every request of its script must be answered.
  page.on('response', (r) => {
    if (r.url().startsWith(url) && r.status() >= 400) dialogs.errors.push(r.status() + ' ' + r.url());
  });
  // Messages and questions of the program arrive as the host script's dialogs: recorded, and
  // questions answered yes.
  page.on('dialog', (d) => {
    dialogs.seen.push(d.type() + ': ' + d.message());
    d.type() === 'confirm' ? d.accept() : d.dismiss();
  });
  await page.goto(url);
  return { context, page };
}

async function shot(page, name) {
  await page.screenshot({ path: path.join(artifacts, name + '.png') });
}

async function main() {
  fs.mkdirSync(artifacts, { recursive: true });
  const browser = await chromium.launch({
    executablePath: env.CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  const dialogs = { seen: [], errors: [] };
  let host = startHost(1);
  try {
    // First start: the page selects the items for the customer; the customer changes a setting.
    let url = await host.url;
    log('host 1 at ' + url);
    assert.strictEqual((await fetch(url.replace(/[0-9a-f]{32}/, '0'.repeat(32)))).status, 403, 'a wrong token is refused');
    let { context, page } = await openPage(browser, url, dialogs);
    await settled(page, 60000);
    await shot(page, '1-first-start');
    await page.click('#idBtnSettings');
    assert.strictEqual(await page.isChecked('#idCloseType'), true, 'a first start shows the default settings');
    await page.uncheck('#idCloseType');
    await page.click('#idSettingsOk');
    // The page asks to start with Windows at its start and with its settings; the host only says so.
    await waitFor('the page to ask to start with Windows', () => host.printed.text.includes('page asks to start with Windows'), 30000);
    assert.strictEqual(registryValue(RUN_KEY, 'VelmoraDevHost'), null, 'the Run key is untouched');
    // The close button quits: the host ends by the page's own command.
    await page.click('#idBtnClose');
    const code = await Promise.race([host.exited, new Promise((r) => setTimeout(() => r('running'), 30000))]);
    assert.strictEqual(code, 0, 'the page quit the host');
    await context.close();

    // Second start: the start-up check runs by itself and lists what is out of order.
    host = startHost(2);
    url = await host.url;
    log('host 2 at ' + url);
    ({ context, page } = await openPage(browser, url, dialogs));
    await waitFor('the start-up check', async () => (await rowIds(page, 'idCheckFailed')).length > 0, 120000);
    await settled(page, 180000);
    const failed = await rowIds(page, 'idCheckFailed');
    log('failed rows: ' + failed.join('; '));
    assert.ok(failed.some((r) => r.startsWith('idItem_host|')), 'the hosts row is among the failed rows');
    assert.ok(await page.isVisible(CONTROL_ROW), 'the missing security control is listed');
    await shot(page, '2-startup-check');
    await page.click('#idBtnSettings');
    assert.strictEqual(await page.isChecked('#idCloseType'), false, 'the setting survived the restart');
    await page.click('#idSettingsOk');

    // The hosts row's repair repairs the prefix's hosts file.
    assert.ok(fs.readFileSync(hostsFile, 'latin1').includes(BANK_HOST), 'the broken line is there before');
    await page.click('#idItem_host .op-link');
    await waitFor('the hosts row to pass', async () => (await rowIds(page, 'idCheckOk')).some((r) => r.startsWith('idItem_host|')), 60000);
    await settled(page, 60000);
    assert.ok(!fs.readFileSync(hostsFile, 'latin1').includes(BANK_HOST), 'the bank\'s line is gone from the hosts file');
    await shot(page, '3-hosts-repaired');

    // One-click repair installs the missing component; the progress bar moves while it downloads.
    assert.strictEqual(registryValue(CONTROL_KEY, 'Version'), null, 'the control is not installed before');
    await page.evaluate(() => {
      const bar = document.getElementById('idProgressBar');
      window.__widths = [bar.style.width];
      new MutationObserver(() => window.__widths.push(bar.style.width)).observe(bar, { attributes: true });
    });
    await page.click('#idBtnFixAll');
    await waitFor('the control\'s row to leave the failed list', async () => !(await page.isVisible(CONTROL_ROW)), 180000);
    await settled(page, 180000);
    const widths = await page.evaluate(() => window.__widths);
    log('progress bar widths: ' + widths.join(' '));
    assert.ok(new Set(widths).size >= 2, 'the progress bar moved');
    const version = registryValue(CONTROL_KEY, 'Version');
    log('installed control version: ' + version);
    assert.ok(version && /^1\.0\.0\.1/.test(version), 'the component\'s registry value appeared');
    await shot(page, '4-one-click-repair');

    // The USB tab: no key on this PC.
    await page.click('#idTab_ukey');
    await waitFor('the key panel', async () => (await page.innerText('#idKeyMessage')).trim() !== '尚未检测USBKEY' ||
      await page.isVisible('#idBtnKeyInstall'), 60000);
    const keyMessage = (await page.innerText('#idKeyPanel')).replace(/\s+/g, ' ');
    log('key panel: ' + keyMessage);
    assert.ok(!(await page.isVisible('#idKeyInfo')) || (await page.innerText('#idKeyTable')).trim() === '', 'no key certificate is shown');
    await shot(page, '5-usb-key');

    // The cost of one synchronous command over the wire.
    const roundTrip = await page.evaluate(() => {
      const n = 200;
      const start = performance.now();
      for (let i = 0; i < n; i++) window.external.callc('get_data', 'bank_url');
      return (performance.now() - start) / n;
    });
    log('callc round trip: ' + roundTrip.toFixed(2) + ' ms (mean of 200 get_data)');
    log('dialogs: ' + (dialogs.seen.join(' | ') || 'none'));
    assert.deepStrictEqual(dialogs.errors, [], 'the page raised no error');
    assert.deepStrictEqual(await page.evaluate(() => window.__velmoraHost.faults), [], 'every request of native code was performed');
    await context.close();
  } finally {
    await browser.close();
    if (host.child.exitCode === null) host.child.kill();
  }
}

main().then(() => {
  console.log('developer host end to end: passed');
}, (e) => {
  console.error('developer host end to end: FAILED: ' + (e && e.stack || e));
  process.exit(1);
});
