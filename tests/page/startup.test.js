// Start-up: first start against later starts, start-mode words, the update schedule,
// "检测更新" and the notices.
'use strict';
const assert = require('assert');
const { openPage, ITEMS, LATER_START, NOW } = require('./harness');

const DAY = 86400000;
const daysAgo = (n) => new Date(NOW.getTime() - n * DAY).toString();

// How many full checks ran: each checks the cache first.
async function checkRuns(s) {
  return (await s.calls('do_check')).filter((c) => c.args[1] === 'cache').length;
}

test('first start: the dialog defaults are saved, no check and no update check run, later starts are set up', async (browser) => {
  const s = await openPage(browser, { items: ITEMS, settings: { LastTimeUpdate: daysAgo(90) } });
  await s.settle();
  for (const [key, value] of [['boot_start', 1], ['AutoCheck', 1], ['CloseType', 1], ['update_time', 1], ['IsFirstTime', 0]]) {
    assert.strictEqual(await s.setting(key), value, key);
  }
  assert.strictEqual(Date.parse(await s.setting('LastTimeUpdate')), NOW.getTime(), 'LastTimeUpdate is set to now');
  assert.strictEqual(await checkRuns(s), 0);
  assert.strictEqual((await s.calls('check_update')).length, 0);
  assert.deepStrictEqual(await s.native(() => window.__native.autostart), [true]);
  assert.strictEqual(await s.text('#idNotify'), '请检测网银环境');
  assert.strictEqual(await s.text('#idNetText'), '已联网');
  assert.strictEqual(await s.page.getAttribute('#idNetImage', 'src'), 'images/anquan.png');
  // The fake host calls every name the native side calls, defined by the page or not.
  const called = (await s.native(() => window.__native.pageCalls)).map((c) => c.name + ':' + c.defined);
  assert.ok(called.includes('setItemInfo:true') && called.includes('isAnyKeyConnect:true'));
  assert.deepStrictEqual(await s.faults(), []);
  await s.close();
});

test('later start: stored settings fill the dialog and decide autostart; the check follows get_config', async (browser) => {
  const s = await openPage(browser, {
    items: ITEMS.slice(0, 1),
    settings: Object.assign({ boot_start: 0, CloseType: 0, update_time: 30, LastTimeUpdate: daysAgo(2) }, LATER_START),
  });
  await s.settle();
  assert.deepStrictEqual(await s.native(() => window.__native.autostart), [false]);
  const order = (await s.native(() => window.__native.calls))
    .filter((c) => c.via === 'asyncallc').map((c) => c.name + ':' + (c.args[1] === null ? '' : c.args[1]));
  assert.deepStrictEqual(order.slice(0, 4), ['do_check:connection', 'get_config:', 'do_check:level', 'do_check:cache']);
  assert.strictEqual(order[order.length - 1], 'do_check:0');
  assert.strictEqual(await checkRuns(s), 1);
  await s.page.click('#idBtnSettings');
  assert.strictEqual(await s.page.isChecked('#idBootStart'), false);
  assert.strictEqual(await s.page.isChecked('#idAutoCheck'), true);
  assert.strictEqual(await s.page.isChecked('#idCloseType'), false);
  assert.strictEqual(await s.page.inputValue('#idUpdateTime'), '30');
  assert.strictEqual((await s.calls('check_update')).length, 0, 'two days is not due for a monthly schedule');
  await s.close();
});

test('later start with automatic checking off runs no check', async (browser) => {
  const s = await openPage(browser, { items: ITEMS, settings: Object.assign({ AutoCheck: 0 }, LATER_START) });
  await s.settle();
  assert.strictEqual(await checkRuns(s), 0);
  assert.strictEqual(await s.page.isChecked('#idAutoCheck'), false);
  await s.close();
});

test('start-mode words select their tabs', async (browser) => {
  const cases = [['scan', 'check'], ['show', 'check'], ['quicklink', 'links'], ['help', 'help'],
    ['ukey', 'ukey'], ['Normal', 'check'], ['QUICKLINK', 'check']];
  const s = await openPage(browser, {});
  for (const [word, tab] of cases) {
    await s.reopen({ startMode: word });
    assert.strictEqual(await s.page.getAttribute('#idTabs .tab.active', 'data-view'), tab, word);
    assert.strictEqual(await s.visible('#idView_' + tab), true, word);
  }
  await s.close();
});

test('update schedule: a check at start-up only when due and not switched off', async (browser) => {
  const cases = [
    // update_time, last update, due
    [1, daysAgo(0.5), false],
    [1, daysAgo(1.5), true],
    [7, daysAgo(5), false],
    [7, daysAgo(8), true],
    [30, daysAgo(20), false],
    [30, daysAgo(31), true],
    [0, daysAgo(400), false],
    [1, 'not a date', true],
    [7, new Date(NOW.getTime() + 50 * DAY).toString(), true],
  ];
  const s = await openPage(browser, {});
  for (const [updateTime, last, due] of cases) {
    await s.reopen({
      settings: Object.assign({ update_time: updateTime, LastTimeUpdate: last, AutoCheck: 0 }, LATER_START),
    });
    await s.settle();
    const calls = await s.calls('check_update');
    assert.deepStrictEqual(calls.map((c) => c.args[1]), due ? [false] : [], `${updateTime} days, last ${last}`);
    if (due) {
      assert.strictEqual(Date.parse(await s.setting('LastTimeUpdate')) > NOW.getTime() - 1000, true);
    } else {
      assert.strictEqual(await s.setting('LastTimeUpdate'), last);
    }
  }
  await s.close();
});

test('pressing "检测更新" twice while the first check runs starts one update check', async (browser) => {
  const s = await openPage(browser, { settings: LATER_START, items: [], hold: ['check_update'] });
  await s.settle();
  await s.page.click('#idBtnUpdate');
  await s.run(500);
  await s.page.click('#idBtnUpdate');
  await s.run(500);
  assert.deepStrictEqual((await s.calls('check_update')).map((c) => c.args[1]), [true]);
  const stamp = await s.setting('LastTimeUpdate');
  assert.ok(await s.native(() => window.__native.release('check_update')));
  await s.run(1000);
  assert.strictEqual((await s.calls('check_update')).length, 1, 'the second press was dropped, not put off');
  assert.notStrictEqual(await s.setting('LastTimeUpdate'), stamp, 'the time of the check is stored when it answers');
  assert.ok((await s.messages()).includes('应用程序为当前最新版本。'));
  await s.page.click('#idBtnUpdate');
  await s.run(500);
  assert.strictEqual((await s.calls('check_update')).length, 2, 'a new check after the first one finished');
  await s.close();
});

// Waits for the notices, on the page's clock and in real time.
async function waitForNotices(s) {
  for (let i = 0; i < 200; i++) {
    const shown = await s.page.evaluate(() => {
      const list = document.getElementById('idNoticeList');
      const items = list ? list.getElementsByTagName('li') : [];
      return items.length > 0 && items[0].className === 'notice';
    });
    if (shown) return;
    await new Promise((resolve) => setTimeout(resolve, 50));
    await s.run(10);
  }
  throw new Error('the notices were never shown');
}

test('notice snippets keep their formatting but never reach script', async (browser) => {
  const snippets = [
    '<b onclick="window.hit=1">加粗</b> <a href="https://ebank.bank.test/n1" target="_blank" onmouseover="window.hit=2">链接</a>',
    '<img src=x onerror="window.hit=3"><img src="https://ebank.bank.test/i.png" alt="图">',
    '<script>window.hit=4</script>脚本<style>li{display:none}</style>',
    '<a href="javascript:window.hit=5">a</a><a href="&#106;avascript:window.hit=6">b</a><a href=" https://x.test/">c</a>',
    '<!--[if IE]><script>window.hit=7</script><![endif]--><iframe src="https://evil.test/"></iframe>注释',
    '<span title="x>y" onclick="window.hit=8">不闭合 <div style="width:expression(window.hit=9)">样式</div>',
    '1 < 2 & 3 > 2 <svg onload="window.hit=10"></svg>',
  ];
  const s = await openPage(browser, { notices: snippets });
  await s.settle();
  await waitForNotices(s);
  // Plain loops: the legacy profiles take the ES5 array methods away from the page.
  const found = await s.page.evaluate(() => {
    const all = document.getElementById('idNoticeList').getElementsByTagName('*');
    const out = { hit: window.hit, tags: [], handlers: 0, hrefs: [], srcs: [] };
    for (let i = 0; i < all.length; i++) {
      const e = all[i];
      const tag = e.tagName.toLowerCase();
      if (tag !== 'li') out.tags.push(tag);
      for (let j = 0; j < e.attributes.length; j++) {
        if (/^on|^style$/i.test(e.attributes[j].name)) out.handlers++;
      }
      if (tag === 'a') out.hrefs.push(e.getAttribute('href'));
      if (tag === 'img') out.srcs.push(e.getAttribute('src'));
    }
    // As one text: the IE7 profile has no JSON for the answer to travel in.
    return [out.hit, out.tags.join(' '), out.handlers, out.hrefs.join(','), out.srcs.join(',')].join('|');
  });
  // No snippet ran script; links and images only to plain https addresses; no handler or style.
  assert.strictEqual(found, '|b a img img a a a span div|0|https://ebank.bank.test/n1,,,|,https://ebank.bank.test/i.png');
  assert.deepStrictEqual(await s.innerTexts('#idNoticeList li'), ['加粗 链接', '', '脚本', 'abc', '注释',
    '不闭合 样式', '1 < 2 & 3 > 2 ']);
  await s.close();
});

test('notices come from the host as data after the level check passes; the page loads no script', async (browser) => {
  const notices = ['<b>系统维护</b>：3月12日 0:00-4:00', '新版网银控件已发布'];
  const s = await openPage(browser, { notices: notices, data: { var_url: 'https://ebank.bank.test/notice/var.js' } });
  await s.settle();
  await waitForNotices(s);
  assert.deepStrictEqual(await s.innerTexts('#idNoticeList li'),
    ['系统维护：3月12日 0:00-4:00', '新版网银控件已发布']);
  assert.strictEqual((await s.calls('get_notices', 'asyncalld')).length, 1, 'beside the checks, not in their queue');
  assert.strictEqual(await s.page.locator('script[src^="http"]').count(), 0);
  await s.close();

  // A failing level check asks for nothing; no texts leave the list empty.
  const t = await openPage(browser, {});
  for (const [cfg, asked] of [[{ checks: { level: false }, notices: notices }, 0], [{ notices: [] }, 1]]) {
    await t.reopen(cfg);
    await t.settle();
    assert.deepStrictEqual(await t.innerTexts('#idNoticeList li'), ['暂无公告']);
    assert.strictEqual((await t.calls('get_notices')).length, asked);
  }
  await t.close();
});
