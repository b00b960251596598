// Repairing one item, installing one item and the one-click repair.
'use strict';
const assert = require('assert');
const { openPage, LATER_START } = require('./harness');

const LIME = 'rgb(57, 204, 1)';     // #39CC01
const GREEN = 'rgb(0, 120, 82)';
const RED = 'rgb(191, 21, 0)';

async function fixCalls(s) {
  return (await s.native(() => window.__native.calls))
    .filter((c) => c.via === 'asyncallc' && /^do_(fix|install|check)$/.test(c.name))
    .map((c) => c.name + ':' + c.args[1]);
}

test('fixing one item: delay, animated link cell, do_fix then do_check, row moves to Ok, done text', async (browser) => {
  const s = await openPage(browser, {
    settings: LATER_START, items: [], checks: { host: false }, latency: { do_fix: 1600 },
  });
  await s.settle();
  const before = (await fixCalls(s)).length;
  await s.watch('#idItem_host td.op');
  await s.page.click('#idItem_host a.op-link');
  await s.run(150);
  assert.strictEqual(await s.text('#idResult'), '检测完毕，有需要修复项目，请修复！', 'nothing happens before the 200 ms delay');
  await s.run(100);
  assert.strictEqual(await s.text('#idResult'), '正在修复HOST文件...');
  await s.run(1400);
  // One to three dots, every 500 ms, while the repair runs; the links are hidden meanwhile.
  assert.deepStrictEqual(await s.watched('#idItem_host td.op'), ['正在修复.', '正在修复..', '正在修复...']);
  await s.run(100);
  assert.strictEqual(await s.text('#idItem_host td.op'), '正在修复.');
  await s.settle();
  assert.deepStrictEqual((await fixCalls(s)).slice(before), ['do_fix:host', 'do_check:host']);
  assert.deepStrictEqual(await s.rowIds('idCheckFailed'), []);
  assert.ok((await s.rows('idCheckOk')).includes('idItem_host|HOST文件|正常'));
  assert.strictEqual(await s.text('#idResult'), '修复完成，无需要修复项目！');
  assert.strictEqual(await s.style('#idResult', 'color'), LIME);
  await s.close();
});

test('fixing one of several: success text names the item; a failed repair says so and offers the link again', async (browser) => {
  const s = await openPage(browser, {
    settings: LATER_START, items: [], checks: { host: false, trust: false, cfca: false }, unfixable: ['cfca'],
  });
  await s.settle();
  await s.page.click('#idItem_trust a.op-link');
  await s.settle();
  assert.strictEqual(await s.text('#idResult'), '网银可信站点加入加入成功！');
  await s.page.click('#idItem_cfca a.op-link');
  await s.settle();
  assert.strictEqual(await s.text('#idResult'), 'CFCA根证书修复失败！');
  assert.strictEqual(await s.style('#idResult', 'color'), RED);
  assert.deepStrictEqual(await s.rows('idCheckFailed'), ['idItem_host|HOST文件|异常|修复', 'idItem_cfca|CFCA根证书|异常|修复']);
  await s.close();
});

test('clicking a repair link twice repairs once', async (browser) => {
  const s = await openPage(browser, { settings: LATER_START, items: [], checks: { host: false } });
  await s.settle();
  await s.page.click('#idItem_host a.op-link');
  await s.page.click('#idItem_host a.op-link');
  await s.settle();
  assert.strictEqual((await s.calls('do_fix')).length, 1);
  await s.close();
});

test('one-click repair with nothing failed still clears the cache, and shows no per-item texts', async (browser) => {
  const s = await openPage(browser, { settings: LATER_START, items: [{ name: '控件', type: 'ocx', flag: 'ocx', status: 0 }] });
  await s.settle();
  const before = (await fixCalls(s)).length;
  await s.watch('#idResult');
  await s.page.click('#idBtnFixAll');
  await s.run(10);
  assert.strictEqual(await s.text('#idNotify'), '开始全面修复...');
  await s.settle();
  assert.deepStrictEqual((await fixCalls(s)).slice(before), ['do_fix:cache', 'do_check:cache']);
  assert.ok((await s.messages()).includes('清理结束'));
  assert.deepStrictEqual(await s.watched('#idResult'), ['您的电脑已达到安全要求，可放心登录网银']);
  assert.strictEqual(await s.text('#idNotify'), '修复完成');
  await s.close();
});

test('one-click repair: repairable fixed items in order, then custom items; warnings are left alone', async (browser) => {
  const items = [
    { name: '网银安全控件', type: 'ocx', flag: 'ocx', status: 3 },
    { name: '打印控件', type: 'print', flag: 'print', status: 0 },
    { name: '签名组件', type: 'sign', flag: 'sign', status: 2 },
  ];
  const s = await openPage(browser, {
    settings: LATER_START, items, checks: { trust: false, host: false, dns: false, proxy: false },
  });
  await s.settle();
  const before = (await fixCalls(s)).length;
  await s.page.click('#idBtnFixAll');
  await s.settle();
  assert.deepStrictEqual((await fixCalls(s)).slice(before), [
    'do_fix:cache', 'do_check:cache', 'do_fix:host', 'do_check:host', 'do_fix:trust', 'do_check:trust',
    'do_install:0', 'do_check:0', 'do_install:2', 'do_check:2',
  ]);
  assert.deepStrictEqual(await s.rowIds('idCheckFailed'), []);
  assert.deepStrictEqual(await s.rowIds('idCheckWarning'), ['idItem_dns']);
  assert.strictEqual(await s.text('#idResult'), '您的电脑已达到安全要求，可放心登录网银');
  assert.strictEqual(await s.style('#idResult', 'color'), GREEN);
  assert.strictEqual(await s.text('#idNotify'), '修复完成');
  await s.close();
});

test('one-click repair that cannot repair everything ends with the failure text', async (browser) => {
  const s = await openPage(browser, {
    settings: LATER_START, items: [{ name: '网银安全控件', type: 'ocx', flag: 'ocx', status: 3 }], installFails: [0],
  });
  await s.settle();
  await s.page.click('#idBtnFixAll');
  await s.settle();
  assert.strictEqual(await s.text('#idResult'), '修复失败，有需要修复项目！');
  assert.strictEqual(await s.style('#idResult', 'color'), RED);
  assert.deepStrictEqual(await s.rows('idCheckFailed'), ['idItem_ocx|网银安全控件|未安装|安装']);
  await s.close();
});

test('installing one item: texts, integer index to do_install, re-check of the returned index, download progress', async (browser) => {
  const items = [
    { name: '打印控件', type: 'print', flag: 'print', status: 0 },
    { name: '网银安全控件', type: 'ocx', flag: 'ocx', status: 3 },
  ];
  const s = await openPage(browser, { settings: LATER_START, items, latency: { do_install: 800 } });
  await s.settle();
  await s.watch('#idNotify');
  await s.page.click('#idItem_ocx a.op-link');
  await s.run(250);
  assert.strictEqual(await s.text('#idResult'), '正在安装网银安全控件...');
  assert.strictEqual(await s.text('#idItem_ocx td.op'), '正在修复.');
  await s.settle();
  const installs = await s.calls('do_install');
  assert.deepStrictEqual(installs.map((c) => [c.via, c.args[1]]), [['asyncallc', 1]]);
  assert.strictEqual((await s.calls('do_check')).pop().args[1], 1);
  assert.deepStrictEqual(await s.watched('#idNotify'), ['正在下载网银安全控件...', '下载完成']);
  assert.ok((await s.rows('idCheckOk')).includes('idItem_ocx|网银安全控件|已安装'));
  assert.deepStrictEqual(await s.rowIds('idCheckFailed'), [], 'the row moved instead of being added');
  assert.strictEqual(await s.text('#idResult'), '网银安全控件修复成功！');
  await s.close();
});

test('installing a key driver that fails says so', async (browser) => {
  const items = [{ name: '飞天USBKEY驱动', type: 'key', flag: 'ft_key1', keyid: '096e0305', status: 3 }];
  const s = await openPage(browser, {
    settings: Object.assign({ UserType: 1, KeyType: 'ft_key1' }, LATER_START), items, installFails: [0],
    latency: { do_install: 500 },
  });
  await s.settle();
  await s.page.click('#idItem_ft_key1 a.op-link');
  await s.run(250);
  assert.strictEqual(await s.text('#idResult'), '正在安装USBKEY驱动...');
  await s.settle();
  assert.strictEqual(await s.text('#idResult'), '飞天USBKEY驱动修复失败！');
  await s.close();
});

test('one-click repair pressed during a check waits for it, then repairs each item once', async (browser) => {
  const s = await openPage(browser, {
    settings: LATER_START, items: [{ name: '网银安全控件', type: 'ocx', flag: 'ocx', status: 3 }],
    checks: { host: false, trust: false },
  });
  // The check started by itself; press in the middle of it, twice.
  await s.run(2000);
  assert.strictEqual(await s.native(() => Velmora.snapshot().state.checking), true, 'a check runs');
  await s.page.click('#idBtnFixAll');
  await s.page.click('#idBtnFixAll');
  await s.watch('#idResult');
  await s.settle();
  const calls = await fixCalls(s);
  const firstRepair = calls.findIndex((c) => !c.startsWith('do_check'));
  assert.strictEqual(calls.slice(0, firstRepair).filter((c) => c !== 'do_check:level').length, 13 + 1 + 1,
    'every check of the run, and the start-up connection check, came before the first repair');
  assert.deepStrictEqual(calls.slice(firstRepair), [
    'do_fix:cache', 'do_check:cache', 'do_fix:host', 'do_check:host', 'do_fix:trust', 'do_check:trust',
    'do_install:0', 'do_check:0',
  ]);
  assert.deepStrictEqual(await s.watched('#idResult'),
    ['检测完毕，有需要修复项目，请修复！', '您的电脑已达到安全要求，可放心登录网银']);
  assert.strictEqual(await s.text('#idNotify'), '修复完成');
  await s.close();
});

test('queued row repairs, installs and one-click repairs: each item once, the summary has the last word', async (browser) => {
  // Nothing can be repaired, so a second attempt would show in the calls.
  const cfg = {
    settings: LATER_START, items: [{ name: '网银安全控件', type: 'ocx', flag: 'ocx', status: 3 }],
    checks: { host: false }, unfixable: ['host'], installFails: [0], hold: ['check_update'],
  };
  const press = {
    fixHost: '#idItem_host a.op-link', clearCache: '#idItem_cache a.op-link', install: '#idItem_ocx a.op-link',
    fixAll: '#idBtnFixAll', check: '#idBtnCheck',
  };
  const SUMMARY = '修复失败，有需要修复项目！';
  const cases = [
    // presses while the queue is held, then the repairs that ran, and the last result text
    [['fixHost', 'fixHost'], { 'do_fix:host': 1 }, 'HOST文件修复失败！'],
    [['install', 'install'], { 'do_install:0': 1 }, '网银安全控件修复失败！'],
    [['fixHost', 'fixAll'], { 'do_fix:host': 1, 'do_fix:cache': 1, 'do_install:0': 1 }, SUMMARY],
    [['fixAll', 'fixHost'], { 'do_fix:host': 1, 'do_fix:cache': 1, 'do_install:0': 1 }, SUMMARY],
    [['install', 'fixAll', 'install'], { 'do_fix:host': 1, 'do_fix:cache': 1, 'do_install:0': 1 }, SUMMARY],
    [['fixAll', 'install', 'clearCache', 'fixAll'], { 'do_fix:host': 1, 'do_fix:cache': 1, 'do_install:0': 1 }, SUMMARY],
    // A check queued after a one-click repair makes the next press count again.
    [['fixAll', 'check', 'fixAll'], { 'do_fix:host': 2, 'do_fix:cache': 2, 'do_install:0': 2 }, SUMMARY],
  ];
  const s = await openPage(browser, {});
  for (const [presses, expected, last] of cases) {
    const name = presses.join(',');
    await s.reopen(cfg);
    await s.settle();
    const before = (await fixCalls(s)).length;
    // An update check holds the queue while the presses come in.
    await s.page.click('#idBtnUpdate');
    await s.run(100);
    for (const p of presses) await s.page.click(press[p]);
    await s.watch('#idResult');
    assert.ok(await s.native(() => window.__native.release('check_update')), name);
    await s.settle();
    const repairs = {};
    for (const c of (await fixCalls(s)).slice(before)) {
      if (!c.startsWith('do_check')) repairs[c] = (repairs[c] || 0) + 1;
    }
    assert.deepStrictEqual(repairs, expected, name);
    const shown = await s.watched('#idResult');
    assert.strictEqual(shown[shown.length - 1], last, name + ': ' + shown.join(' / '));
    assert.strictEqual(await s.text('#idResult'), last, name);
    assert.deepStrictEqual(await s.faults(), [], name);
  }
  await s.close();
});
