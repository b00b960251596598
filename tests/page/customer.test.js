// Customer kind, the USB key item and the key panel.
'use strict';
const assert = require('assert');
const { openPage, ITEMS, LATER_START } = require('./harness');

const CERT = '2a1f03;CFCA ACS SM2 OCA31;user01;2020年01月05日到2025年01月05日';

async function checkedIndexes(s) {
  return (await s.calls('do_check', 'asyncallc')).filter((c) => typeof c.args[1] === 'number').map((c) => c.args[1]);
}

test('customer kind decides which configured items are checked', async (browser) => {
  const items = ITEMS.concat([{ name: '安全输入控件', type: 'safe_input', flag: 'safein' }]);
  const cases = [
    [{ UserType: 0, safeType: 2 }, [0, 1, 4]],
    [{ UserType: 0, safeType: 4 }, [0, 2, 4]],
    [{ UserType: 0 }, [0, 1, 2, 4]],
    [{ UserType: 1, KeyType: 'ft2_key_per1', safeType: 2 }, [0, 1, 3, 4]],
    [{ UserType: 1, KeyType: 'someone_else', safeType: 4 }, [0, 2, 4]],
  ];
  const s = await openPage(browser, {});
  for (const [settings, expected] of cases) {
    await s.reopen({ items, settings: Object.assign(settings, LATER_START) });
    await s.watch('#idNotify');
    await s.settle();
    assert.deepStrictEqual(await checkedIndexes(s), expected, JSON.stringify(settings));
    const notes = await s.watched('#idNotify');
    assert.strictEqual(notes.includes('正在检测USBKEY驱动...'), expected.includes(3));
    assert.ok(notes.includes('正在检测网银安全控件...'));
  }
  await s.close();
});

test('a key found at start-up makes a key customer: settings saved, its items checked, one check only', async (browser) => {
  const s = await openPage(browser, { items: ITEMS, settings: Object.assign({ UserType: 0 }, LATER_START), pluggedKeys: ['096E0305'] });
  await s.settle();
  assert.strictEqual(await s.setting('UserType'), 1);
  assert.strictEqual(await s.setting('KeyType'), 'ft2_key_per1');
  assert.strictEqual(await s.setting('safeType'), 2, 'a type ending in 1 is a personal key');
  assert.deepStrictEqual(await checkedIndexes(s), [0, 1, 3]);
  const connects = await s.calls('is_key_connect', 'callc');
  assert.deepStrictEqual(connects[0].args.slice(1, 3), ['096e0305', 3]);
  assert.deepStrictEqual(await s.faults(), []);
  await s.close();
});

test('key panel shows the certificate the host reports through setKeyInfo (screenshot)', async (browser) => {
  const s = await openPage(browser, {
    items: ITEMS,
    settings: Object.assign({ UserType: 1, KeyType: 'ft2_key_per1', keytype: 'FT_A' }, LATER_START),
    pluggedKeys: ['096e0305'],
    data: { csp_FT_A: 'FT CSP A' },
    keyCerts: { 'FT CSP A': CERT },
  });
  await s.settle();
  const info = await s.calls('update_key_info');
  // Read when the key was found at start-up and again at the end of the check; always with
  // the integer key type the host requires and the provider configured for the model.
  assert.ok(info.length >= 1);
  for (const c of info) assert.deepStrictEqual([c.via, c.args[1], c.args[2]], ['asyncalld', 3, 'FT CSP A']);
  await s.page.click('#idTab_ukey');
  assert.strictEqual(await s.text('#idKeyTitle'), '个人网银 - 飞天USBKEY驱动');
  assert.deepStrictEqual(await s.innerTexts('#idKeyTable tr'), [
    '证书序列号\t2a1f03', '颁发者\tCFCA ACS SM2 OCA31', '使用者\tuser01', '有效期\t2020年01月05日到2025年01月05日',
  ]);
  assert.strictEqual(await s.text('#idKeyModel'), '当前型号：飞天A型');
  // The host also calls is_can_Open_update, which the page leaves undefined: no effect, no fault.
  assert.ok((await s.native(() => window.__native.pageCalls)).some((c) => c.name === 'is_can_Open_update' && !c.defined));
  assert.deepStrictEqual(await s.messages(), []);
  assert.deepStrictEqual(await s.faults(), []);
  await s.screenshot('key-panel');
  await s.close();
});

test('key panel states: driver missing, key not plugged, model not chosen, key pulled out', async (browser) => {
  const keyCustomer = Object.assign({ UserType: 1, KeyType: 'ft2_key_per1', keytype: 'FT_A' }, LATER_START);
  const items = ITEMS.map((i) => Object.assign({}, i));
  items[3].status = 3;
  const s = await openPage(browser, { items, settings: keyCustomer });
  await s.settle();
  assert.strictEqual(await s.text('#idKeyMessage'), 'USBKEY驱动未安装或已禁用');
  await s.page.click('#idTab_ukey');
  assert.strictEqual(await s.visible('#idBtnKeyInstall'), true);

  await s.reopen({ items: ITEMS, settings: keyCustomer });
  await s.settle();
  assert.strictEqual(await s.text('#idKeyMessage'), '请插入USBKEY');

  await s.reopen({
    items: ITEMS, settings: Object.assign({}, keyCustomer, { keytype: 'XA' }), pluggedKeys: ['096e0305'],
    data: { csp_FT_A: 'FT CSP A' }, keyCerts: { 'FT CSP A': CERT },
  });
  await s.settle();
  assert.strictEqual(await s.text('#idKeyMessage'), '请选择USBKEY型号以读取证书');
  assert.strictEqual((await s.calls('update_key_info')).length, 0);
  // The key is pulled out: the host reports a device change.
  await s.native(() => { window.__native.cfg.pluggedKeys = []; window.__native.callPage('isAnyKeyConnect', []); });
  await s.settle();
  assert.strictEqual(await s.text('#idKeyMessage'), '请插入USBKEY');
  await s.close();
});

test('only one key panel refresh runs at a time', async (browser) => {
  const s = await openPage(browser, {
    items: ITEMS, latency: { do_check: 10 },
    settings: Object.assign({ UserType: 1, KeyType: 'ft2_key_per1' }, LATER_START),
  });
  await s.settle();
  const before = (await s.calls('do_check', 'asyncalld')).length;
  await s.native(() => { window.__native.cfg.latency.do_check = 1000; });
  await s.page.click('#idTab_ukey');
  await s.page.click('#idBtnKeyRefresh');
  await s.page.click('#idBtnKeyRefresh');
  await s.page.click('#idBtnKeyRefresh');
  await s.settle();
  assert.strictEqual((await s.calls('do_check', 'asyncalld')).length - before, 1);
  await s.page.click('#idBtnKeyRefresh');
  await s.settle();
  assert.strictEqual((await s.calls('do_check', 'asyncalld')).length - before, 2);
  await s.close();
});
