// Dialogs, links, title buttons, page calls from the host and input behaviour.
'use strict';
const assert = require('assert');
const { openPage, ITEMS, LATER_START } = require('./harness');

test('settings dialog: loads, saves all four as integers and applies autostart; cancel saves nothing (screenshot)', async (browser) => {
  const s = await openPage(browser, { settings: Object.assign({ update_time: 3, AutoCheck: 0 }, LATER_START) });
  await s.settle();
  await s.page.click('#idBtnSettings');
  assert.strictEqual(await s.visible('#idSettings'), true);
  assert.strictEqual(await s.page.inputValue('#idUpdateTime'), '1', 'an unknown schedule shows as daily');
  assert.deepStrictEqual(await s.innerTexts('#idUpdateTime option'), ['每天一次', '每周一次', '每月一次']);
  assert.deepStrictEqual((await s.innerTexts('#idSettings label')).map((t) => t.trim()),
    ['开机自启动', '启动时自动检测', '关闭时最小化托盘']);

  await s.page.uncheck('#idBootStart');
  await s.page.check('#idAutoCheck');
  await s.page.selectOption('#idUpdateTime', '7');
  await s.screenshot('settings-dialog');
  const saves = (await s.calls('save_settings')).length;
  await s.page.click('#idSettings [data-close]:text("取消")');
  assert.strictEqual((await s.calls('save_settings')).length, saves);
  assert.strictEqual(await s.visible('#idSettings'), false);

  await s.page.click('#idBtnSettings');
  assert.strictEqual(await s.page.isChecked('#idAutoCheck'), false, 'cancelled changes are gone');
  await s.page.uncheck('#idBootStart');
  await s.page.uncheck('#idCloseType');
  await s.page.selectOption('#idUpdateTime', '30');
  await s.page.click('#idSettingsOk');
  assert.strictEqual(await s.visible('#idSettings'), false);
  for (const [key, value] of [['boot_start', 0], ['AutoCheck', 0], ['CloseType', 0], ['update_time', 30]]) {
    assert.strictEqual(await s.setting(key), value, key);
  }
  assert.deepStrictEqual(await s.native(() => window.__native.autostart), [true, false]);
  assert.deepStrictEqual(await s.messages(), [], 'every value had a type the host accepts');
  await s.close();
});

test('key-type dialog: asks through messagebox when nothing is chosen; saves the model and starts a check', async (browser) => {
  const s = await openPage(browser, { items: ITEMS, settings: Object.assign({ AutoCheck: 0 }, LATER_START) });
  await s.settle();
  await s.page.click('#idTab_ukey');
  assert.strictEqual(await s.text('#idKeyModel'), '尚未选择USBKEY型号');
  await s.page.click('#idBtnKeyType');
  assert.deepStrictEqual((await s.innerTexts('#idKeyTypeDlg label')).map((t) => t.trim()),
    ['飞天A型', '飞天C型', '飞天二代']);
  await s.page.click('#idKeyTypeOk');
  assert.deepStrictEqual(await s.messages(), ['请选择USBKEY型号']);
  assert.strictEqual(await s.visible('#idKeyTypeDlg'), true);
  await s.page.check('#idKeyTypeDlg input[value=FT_C]');
  await s.page.click('#idKeyTypeOk');
  assert.strictEqual(await s.setting('keytype'), 'FT_C');
  assert.strictEqual(await s.text('#idKeyModel'), '当前型号：飞天C型');
  await s.settle();
  assert.strictEqual((await s.calls('do_check')).filter((c) => c.args[1] === 'cache').length, 1);
  assert.deepStrictEqual(await s.faults(), [], 'no browser alert was used');
  await s.close();
});

test('quick links open the configured addresses; a missing one is reported; title buttons reach the host', async (browser) => {
  const s = await openPage(browser, { data: { bank_url: 'https://ebank.bank.test/per/' } });
  await s.settle();
  await s.page.click('#idTab_links');
  await s.page.click('#idLinkBank');
  await s.page.click('#idLinkCorp');
  assert.deepStrictEqual(await s.native(() => window.__native.opened), ['https://ebank.bank.test/per/']);
  assert.deepStrictEqual(await s.messages(), ['暂时无法获取网银地址，请检查网络后重试。']);
  await s.page.click('#idBtnMin');
  await s.page.click('#idBtnClose');
  assert.strictEqual((await s.calls('mini_size', 'callc')).length, 1);
  assert.strictEqual((await s.calls('quit', 'callc')).length, 1);
  await s.page.click('#idTab_help');
  assert.strictEqual(await s.page.locator('#idView_help .help-topic').count(), 3);
  await s.screenshot('help-tab');
  await s.close();
});

test('the mouse wheel does not scroll the page, only the result lists', async (browser) => {
  const s = await openPage(browser, {});
  // Engines of the IE8 era know only the mousewheel event.
  const wheel = s.profile === 'modern';
  const cases = [['body', true], ['#idNotify', true], ['#idLists', false]];
  for (const [selector, blocked] of cases) {
    assert.deepStrictEqual(await s.native((sel) => window.__native.wheel(sel), selector),
      { wheel: blocked && wheel, mousewheel: blocked }, selector);
  }
  await s.close();
});

test('setProgress from the host: bar width, clamping, update and download texts', async (browser) => {
  const s = await openPage(browser, { items: ITEMS });
  await s.settle();
  const cases = [
    // arguments, status line (null: unchanged), bar width
    [[50], null, '153px'],
    [[40, -1, true], '正在更新网银助手...', '122px'],
    [[100, -1, true], '更新完成', '306px'],
    [[30, -1, false], '更新失败！', '306px'],
    [[20, 0, true], '正在下载网银安全控件...', '61px'],
    [[150, 0, true], '下载完成', '306px'],
    [[-5, 0, true], '正在下载网银安全控件...', '0px'],
    [[10, 1, false], '下载失败！', '31px'],
  ];
  let notify = await s.text('#idNotify');
  for (const [args, text, width] of cases) {
    await s.native((a) => window.__native.callPage('setProgress', a), args);
    if (text !== null) notify = text;
    assert.strictEqual(await s.text('#idNotify'), notify, JSON.stringify(args));
    assert.strictEqual(await s.native(() => document.getElementById('idProgressBar').style.width), width, JSON.stringify(args));
  }
  await s.close();
});

test('host calls with odd arguments neither break the page nor create bogus items', async (browser) => {
  const s = await openPage(browser, { items: ITEMS.slice(0, 1), settings: Object.assign({ AutoCheck: 0 }, LATER_START) });
  await s.settle();
  await s.native(() => {
    const N = window.__native;
    N.callPage('setItemInfo', [0, 'index', '7']);
    N.callPage('setItemInfo', ['x', 'name', 'bogus']);
    N.callPage('setKeyInfo', [99, 'sn', '1']);
    N.callPage('onkeyPlugined', [42]);
    N.callPage('is_can_Open_update', []);
    // call_js hands its three values to a page function, as the host's command does.
    window.external.callc('call_js', 'setItemInfo', 1, 'name', '新组件');
    window.external.callc('call_js', 'setItemInfo', 1, 'flag', 'newitem');
  });
  await s.page.click('#idBtnCheck');
  await s.settle();
  assert.deepStrictEqual((await s.calls('do_check')).filter((c) => typeof c.args[1] === 'number').map((c) => c.args[1]), [0, 1]);
  assert.deepStrictEqual(await s.rows('idCheckFailed'), ['idItem_newitem|新组件|未安装|安装'],
    'an index the host does not know answers nothing and shows as not installed');
  assert.deepStrictEqual(await s.faults(), []);
  await s.close();
});
