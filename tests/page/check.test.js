// The full check: order, pacing, progress, row placement, classification and summary texts.
'use strict';
const assert = require('assert');
const { openPage, ITEMS, LATER_START } = require('./harness');

const FIXED_ORDER = ['cache', 'registry', 'host', 'cfca', 'iehomepage', 'compatibility', 'trust',
  'connection', 'url', 'dns', 'firewall', 'winupdate', 'proxy'];
const GREEN = 'rgb(0, 120, 82)';   // #007852
const RED = 'rgb(191, 21, 0)';     // #BF1500

test('without custom items all thirteen fixed items are checked in order, one at a time, and the bar reaches 306 px at the last', async (browser) => {
  const s = await openPage(browser, { settings: LATER_START, items: [], defaultLatency: 40 });
  await s.watch('#idProgressBar', 'width');
  await s.settle();
  const checks = (await s.calls('do_check', 'asyncallc')).filter((c) => c.args[1] !== 'level');
  // The first do_check of connection belongs to start-up (bottom indicator).
  assert.deepStrictEqual(checks.map((c) => c.args[1]), ['connection'].concat(FIXED_ORDER));
  const run = checks.slice(1);
  for (let i = 1; i < run.length; i++) {
    // Next step 300 ms after the previous answer (40 ms host latency), never overlapping.
    assert.ok(run[i].t - run[i - 1].t >= 340, `step ${i} started ${run[i].t - run[i - 1].t} ms after the previous`);
  }
  const widths = (await s.watched('#idProgressBar', 'width')).filter((w) => w !== '0px');
  const expected = FIXED_ORDER.map((_, i) => Math.round(((i + 1) * 100 / 13) * 306 / 100) + 'px');
  assert.deepStrictEqual(widths, expected);
  assert.strictEqual(await s.text('#idNotify'), '检测完成');
  assert.strictEqual(await s.text('#idResult'), '您的电脑已达到安全要求，可放心登录网银');
  assert.strictEqual(await s.style('#idResult', 'color'), GREEN);
  assert.strictEqual(await s.text('#idLastCheck'), '上次检测时间：2025-03-10 09:30:04');
  assert.ok(!isNaN(Date.parse(await s.setting('LastTimeCheck'))), 'LastTimeCheck holds a date text');
  assert.deepStrictEqual(await s.faults(), []);
  await s.close();
});

test('failing proxy stays Ok; failing connection/url/dns/firewall/winupdate are warnings without repair', async (browser) => {
  const failing = { proxy: false, connection: false, url: false, dns: false, firewall: false, winupdate: false };
  const s = await openPage(browser, { settings: LATER_START, items: [], checks: failing });
  await s.settle();
  assert.deepStrictEqual(await s.rows('idCheckWarning'), [
    'idItem_connection|网络连接|异常',
    'idItem_url|网银服务|异常',
    'idItem_dns|DNS解析|异常',
    'idItem_firewall|防火墙检测|注意',
    'idItem_winupdate|Windows自动更新|禁用',
  ]);
  const ok = await s.rows('idCheckOk');
  assert.ok(ok.includes('idItem_proxy|Http代理服务|无代理'), ok.join('\n'));
  assert.strictEqual(await s.page.getAttribute('#idItem_proxy img', 'src'), 'images/true.png');
  assert.strictEqual(await s.page.getAttribute('#idItem_dns img', 'src'), 'images/warn.png');
  assert.deepStrictEqual(await s.rows('idCheckFailed'), []);
  assert.strictEqual(await s.visible('#idHeadFailed'), false);
  assert.strictEqual(await s.text('#idCountWarning'), '(5)');
  assert.strictEqual(await s.text('#idResult'), '您的电脑已达到安全要求，可放心登录网银');
  assert.strictEqual(await s.style('#idResult', 'color'), GREEN);
  // The connection result also drives the bottom indicator.
  assert.strictEqual(await s.text('#idNetText'), '未联网');
  assert.strictEqual(await s.page.getAttribute('#idNetImage', 'src'), 'images/anquan1.png');
  await s.close();
});

test('failed repairable items and custom items needing work are listed to repair (screenshot)', async (browser) => {
  const items = [
    { name: '网银安全控件', type: 'ocx', flag: 'ocx', status: 2 },
    { name: '签名组件', type: 'sign', flag: 'sign', status: 1 },
    { name: '密码控件', type: 'pwd', flag: 'pwd', status: 3 },
    { name: '打印控件', type: 'print', flag: 'print', status: 0 },
  ];
  const s = await openPage(browser, {
    settings: LATER_START, items,
    checks: { host: false, trust: false, dns: false },
    details: { host: [{ key: 'www.bank.test', value: '10.0.0.8' }, { key: 'ebank.bank.test', value: '10.0.0.9' }] },
  });
  await s.settle();
  assert.deepStrictEqual(await s.rows('idCheckFailed'), [
    'idItem_host|HOST文件|异常|修复|详细',
    'idItem_trust|网银可信站点加入|未加入|加入',
    'idItem_ocx|网银安全控件|有升级|升级',
    'idItem_sign|签名组件|已禁用|修复',
    'idItem_pwd|密码控件|未安装|安装',
  ]);
  const ok = await s.rows('idCheckOk');
  assert.ok(ok.includes('idItem_print|打印控件|已安装'));
  assert.ok(ok.includes('idItem_cache|缓存||清除'), 'the cache always offers clearing');
  assert.strictEqual(await s.text('#idCountFailed'), '(5)');
  assert.strictEqual(await s.text('#idResult'), '检测完毕，有需要修复项目，请修复！');
  assert.strictEqual(await s.style('#idResult', 'color'), RED);
  // Detail rows: hidden until "详细" is pressed, one per pair.
  assert.strictEqual(await s.page.locator('tr.detail[data-owner="idItem_host"]:visible').count(), 0);
  await s.page.click('#idItem_host a.detail-link');
  assert.deepStrictEqual(await s.innerTexts('tr.detail[data-owner="idItem_host"]:visible'),
    ['\twww.bank.test\t10.0.0.8', '\tebank.bank.test\t10.0.0.9']);
  await s.screenshot('check-view-failures');
  await s.close();
});

test('a custom item with status 2 alone makes the summary ask for repair', async (browser) => {
  const s = await openPage(browser, { settings: LATER_START, items: [{ name: '网银安全控件', type: 'ocx', flag: 'ocx', status: 2 }] });
  await s.settle();
  assert.strictEqual(await s.text('#idResult'), '检测完毕，有需要修复项目，请修复！');
  await s.close();
});

test('a second check replaces rows by id: no duplicates, rows move between lists, details not doubled', async (browser) => {
  const s = await openPage(browser, {
    settings: LATER_START, items: ITEMS.slice(0, 1),
    checks: { host: false }, details: { host: [{ key: 'a', value: '1' }] },
  });
  await s.settle();
  assert.deepStrictEqual(await s.rowIds('idCheckFailed'), ['idItem_host']);
  await s.native(() => { window.__native.cfg.checks.host = true; window.__native.cfg.checks.dns = false; });
  await s.page.click('#idBtnCheck');
  await s.settle();
  const all = (await s.rowIds('idCheckOk')).concat(await s.rowIds('idCheckFailed'), await s.rowIds('idCheckWarning'));
  assert.strictEqual(all.length, new Set(all).size, 'a row id appears twice: ' + all.join(','));
  assert.strictEqual(all.length, 13 + 2 + 1);
  assert.deepStrictEqual(await s.rowIds('idCheckFailed'), []);
  assert.deepStrictEqual(await s.rowIds('idCheckWarning'), ['idItem_dns']);
  assert.strictEqual(await s.page.locator('tr.detail[data-owner="idItem_host"]').count(), 1);
  assert.strictEqual(await s.text('#idCountOk'), '(15)');
  await s.close();
});

test('pressing "重新检测" while a check runs starts one more check after it, not two', async (browser) => {
  const s = await openPage(browser, { settings: LATER_START, items: [] });
  await s.run(1000);
  await s.page.click('#idBtnCheck');
  await s.page.click('#idBtnCheck');
  await s.settle();
  const caches = (await s.calls('do_check')).filter((c) => c.args[1] === 'cache');
  assert.strictEqual(caches.length, 2);
  await s.close();
});

test('version rows: IE by its major number, Windows by the first known name it contains', async (browser) => {
  const cases = [
    ['11.0.9600.19507', 'Windows 10 Pro', 'IE11', 'Windows 10'],
    ['8.0.7601.17514', 'Windows 8.1 Enterprise', 'IE8', 'Windows 8.1'],
    ['4.01', 'Microsoft Windows Server 2008 R2', 'IE4', 'Windows 2008'],
    ['12.1', 'Windows Server 2003', '12.1', 'Windows 2003'],
    ['', 'Linux', '无', 'Linux'],
  ];
  const s = await openPage(browser, { items: [] });
  await s.settle();
  for (const [ie, sys, ieShown, sysShown] of cases) {
    await s.native(([a, b]) => { window.__native.cfg.ieversion = a; window.__native.cfg.sysversion = b; }, [ie, sys]);
    await s.page.click('#idBtnCheck');
    await s.run(100);
    assert.strictEqual(await s.text('#idItem_ieversion td.text'), ieShown, ie);
    assert.strictEqual(await s.text('#idItem_sysversion td.text'), sysShown, sys);
    await s.settle();
  }
  await s.close();
});

test('malformed answers do not stop the check: unreadable text fails the item, bad detail entries are skipped', async (browser) => {
  const s = await openPage(browser, {
    settings: LATER_START, items: [], checks: { host: false },
    details: { host: [null, 7, { key: 'www.bank.test', value: '10.0.0.8' }] },
  });
  await s.native(() => {
    // The host answers the registry check with text that is not JSON.
    const ext = window.external;
    const original = ext.asyncallc;
    ext.asyncallc = function (cb, name, a1) {
      if (name === 'do_check' && a1 === 'registry') {
        return original.call(ext, function () { cb.call(cb, '{ "type" : "registry", "result" : '); }, name, a1);
      }
      return original.apply(ext, arguments);
    };
  });
  await s.settle();
  assert.strictEqual(await s.text('#idNotify'), '检测完成');
  assert.deepStrictEqual(await s.rows('idCheckFailed'), ['idItem_registry|注册表|异常|修复', 'idItem_host|HOST文件|异常|修复|详细']);
  assert.strictEqual(await s.page.locator('tr.detail[data-owner="idItem_host"]').count(), 1);
  assert.deepStrictEqual(await s.faults(), []);
  await s.close();
});
