'use strict';
const assert = require('assert');
const { openPage, ITEMS, LATER_START } = require('./harness');
test('smoke', async (browser) => {
  const s = await openPage(browser, { settings: LATER_START, items: ITEMS, checks: { host: false, dns: false } });
  await s.settle();
  console.log(await s.rows('idCheckOk'), await s.rows('idCheckFailed'), await s.rows('idCheckWarning'));
  console.log(await s.text('#idResult'), await s.text('#idNotify'));
  console.log(await s.faults());
  await s.screenshot('smoke');
  await s.close();
});
