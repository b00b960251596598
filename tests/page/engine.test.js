// What the page needs from the engine: the profile really is the old engine it claims to be,
// and answers are read by a strict JSON reader that never runs them.
'use strict';
const assert = require('assert');
const { openPage } = require('./harness');

test('the engine profile takes away what IE8 lacks and offers what IE8 has instead', async (browser) => {
  const s = await openPage(browser, {});
  const seen = await s.native(() => ({
    addEventListener: typeof document.addEventListener,
    attachEvent: typeof document.attachEvent,
    getComputedStyle: typeof window.getComputedStyle,
    currentStyle: typeof document.body.currentStyle,
    forEach: typeof [].forEach,
    keys: typeof Object.keys,
    bind: typeof Function.prototype.bind,
    trim: typeof ''.trim,
    JSON: typeof window.JSON,
  }));
  const legacy = s.profile !== 'modern';
  assert.deepStrictEqual(seen, {
    addEventListener: legacy ? 'undefined' : 'function',
    attachEvent: legacy ? 'function' : 'undefined',
    getComputedStyle: legacy ? 'undefined' : 'function',
    currentStyle: legacy ? 'object' : 'undefined',
    forEach: legacy ? 'undefined' : 'function',
    keys: legacy ? 'undefined' : 'function',
    bind: legacy ? 'undefined' : 'function',
    trim: legacy ? 'undefined' : 'function',
    JSON: s.profile === 'ie7' ? 'undefined' : 'object',
  }, s.profile);
  await s.close();
});

// Each text is read by the page's own reader and by Node's JSON.parse: both accept it with
// the same value, or both reject it.
const TEXTS = [
  '{ "type" : "host", "result" : false}',
  '{ "index" : 3, "result" : 2}',
  '{"type":"dns","result":true,"details":[{"key":"www.bank.test","value":"10.0.0.8"}]}',
  ' \t\r\n{}\n ',
  '[]',
  '[1, 0.5, -1.5e3, 2E+2, 1e-2, 123456789012]',
  '"\\u4e2d\\u6587 \\" \\\\ \\/ \\b\\f\\n\\r\\t"',
  '"网银助手"',
  '"\\ud83d\\ude00"',
  'true', 'false', 'null', '0', '-7',
  '{"a":{"b":[true,false,null,{"c":""}]}}',
  '{"a":1,"a":2}',
  // rejected
  '', ' ', '{', '}', '[', '{"a":1,}', '[1,]', '[,1]', "{'a':1}", '{a:1}', '{"a" 1}', '[1 2]',
  '01', '1.', '.5', '+1', '-', '1e', '1e+', '0x10', 'NaN', 'Infinity', '-Infinity', 'undefined',
  'tru', 'nul', 'True', '"abc', '"\\x41"', '"\\u12"', '"\\u12g4"', '"a\nb"', '"a\tb"', '"\\',
  '{"a":1}x', '{"a":1}}', '{"a":1};alert(1)', '(function(){})()', 'alert(1)', '"a"+"b"',
  '\u00a0{}', '\ufeff{}', '[1]//', '/* */[1]',
];

test('answers are read by a strict JSON reader: what JSON.parse accepts, nothing else', async (browser) => {
  const s = await openPage(browser, {});
  const read = await s.native((texts) => {
    var out = [];
    for (var i = 0; i < texts.length; i++) {
      try {
        out.push({ ok: true, value: Velmora.parseJson(texts[i]) });
      } catch (e) {
        out.push({ ok: false, syntax: e instanceof SyntaxError });
      }
    }
    return out;
  }, TEXTS);
  TEXTS.forEach((text, i) => {
    let expected;
    try {
      expected = { ok: true, value: JSON.parse(text) };
    } catch (e) {
      expected = { ok: false, syntax: true };
    }
    assert.deepStrictEqual(read[i], expected, JSON.stringify(text));
  });

  // Answers are objects; anything else, or text that is no JSON, is no answer. A member
  // named __proto__ reaches nothing beyond the answer itself.
  const answers = await s.native(() => {
    var proto = Velmora.parseJson('{"__proto__":{"polluted":1},"result":true}');
    return {
      object: Velmora.parseAnswer('{ "index" : 1, "result" : 0}'),
      number: Velmora.parseAnswer('5'),
      text: Velmora.parseAnswer('"x"'),
      nothing: Velmora.parseAnswer(''),
      notText: Velmora.parseAnswer(5),
      script: Velmora.parseAnswer('{"a":1};window.__ran=1'),
      ran: window.__ran === 1,
      proto: [proto.result, proto.polluted === undefined, ({}).polluted === undefined],
    };
  });
  assert.deepStrictEqual(answers, {
    object: { index: 1, result: 0 }, number: null, text: null, nothing: null, notText: null, script: null,
    ran: false, proto: [true, true, true],
  });
  await s.close();
});
