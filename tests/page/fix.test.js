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
