// A stand-in for the host's window.external, injected before the page's scripts run.
// It follows the host's command contract: callc answers at once; asyncallc items run one
// after another on one "worker", asyncalld items each on their own; answers reach the page
// through the callback's call member; page functions are looked up by name at every call
// and a missing one is a silent failure. Everything it is asked is recorded in __native.
// Delays use the page's timers, which the tests drive with a virtual clock.
// It runs before a legacy profile takes away what old engines lack, so at call time it uses
// only what IE8 has, or what it kept for itself here.
/* eslint-disable */
(function (cfg) {
  'use strict';
  cfg = cfg || {};
  var stringify = JSON.stringify;
  var Observer = window.MutationObserver;
  var computedStyle = window.getComputedStyle;
  var textOf = Object.getOwnPropertyDescriptor(Node.prototype, 'textContent').get;
  var dispatch = EventTarget.prototype.dispatchEvent;

  function each(list, fn) {
    for (var i = 0; i < list.length; i++) fn(list[i], i);
  }
  function any(list, fn) {
    for (var i = 0; i < list.length; i++) if (fn(list[i])) return true;
    return false;
  }
  function has(list, value) {
    return any(list, function (v) { return v === value; });
  }
  var N = (window.__native = {
    cfg: cfg,
    calls: [],       // { via, name, args, t }
    pageCalls: [],   // { name, args, defined }
    messages: [],    // { text, icon }
    errors: [],
    debug: [],       // debug_print texts
    held: [],        // commands whose answer a test releases by hand
    opened: [],
    autostart: [],
    workerBusy: false
  });

  var IDS = {
    1: 'get_config', 2: 'save_settings', 3: 'load_settings', 4: 'messagebox', 5: 'open_ie',
    6: 'get_data', 7: 'is_key_connect', 8: 'do_check', 9: 'do_fix', 10: 'do_install',
    11: 'get_version', 12: 'debug_print', 13: 'delay_ms', 14: 'call_js', 15: 'do_extra_startup',
    16: 'check_update', 17: 'update_key_info', 18: 'restart_app', 19: 'http_post',
    21: 'start_with_boot', 22: 'set_Log', 23: 'Get_SM_info', 24: 'mini_size', 25: 'quit',
    26: 'get_notices'
  };

  // A JSON string without the JSON object (the legacy profiles have none).
  function jsonQuoted(text) {
    return '"' + text.replace(/[\\"\u0000-\u001f\u2028\u2029]/g, function (c) {
      return '\\u' + ('000' + c.charCodeAt(0).toString(16)).slice(-4);
    }) + '"';
  }

  cfg.checks = cfg.checks || {};
  cfg.details = cfg.details || {};
  cfg.items = cfg.items || [];
  cfg.data = cfg.data || {};
  cfg.unfixable = cfg.unfixable || [];
  cfg.installFails = cfg.installFails || [];
  cfg.pluggedKeys = cfg.pluggedKeys || [];
  cfg.keyCerts = cfg.keyCerts || {};
  cfg.latency = cfg.latency || {};
  cfg.hold = cfg.hold || [];

  function isInt(v) {
    return typeof v === 'number' && isFinite(v) && Math.floor(v) === v && v >= -2147483648 && v <= 2147483647;
  }

  // Registry: integers (booleans as -1/0) or strings.
  var store = (N.settings = {});
  function put(key, v) {
    if (typeof v === 'boolean') store[key] = { t: 'i', v: v ? -1 : 0 };
    else if (isInt(v)) store[key] = { t: 'i', v: v };
    else store[key] = { t: 's', v: String(v) };
  }
  for (var key in cfg.settings || {}) put(key, cfg.settings[key]);

  function showMessage(text) { N.messages.push({ text: text, icon: 5 }); }

  function callPage(name, args) {
    var f = window[name];
    var defined = typeof f === 'function';
    N.pageCalls.push({ name: name, args: args, defined: defined });
    if (!defined) return false;
    try {
      f.apply(window, args);
    } catch (e) {
      N.errors.push(name + ': ' + (e && e.message));
    }
    return true;
  }
  N.callPage = callPage;

  function typeAnswer(type, result) {
    return '{ "type" : "' + type + '", "result" : ' + (result ? 'true' : 'false') +
      (cfg.details[type] ? ', "details" : ' + stringify(cfg.details[type]) : '') + '}';
  }
  function itemAnswer(index, status) {
    return '{ "index" : ' + index + ', "result" : ' + status + '}';
  }
  function itemStatus(i) {
    var s = cfg.items[i].status;
    return s === undefined ? 0 : s;
  }

  var commands = {
    get_config: function () {
      each(cfg.items, function (item, i) {
        each(['name', 'type', 'keyid', 'flag'], function (k) {
          callPage('setItemInfo', [i, k, item[k] === undefined ? '' : String(item[k])]);
        });
        // Attributes a configuration may carry beyond the four the host reads today.
        for (var k in item.extra || {}) callPage('setItemInfo', [i, k, String(item.extra[k])]);
      });
      callPage('isAnyKeyConnect', []);
    },
    save_settings: function (a1, a2) {
      if (typeof a1 !== 'string') return showMessage('save_settings第2个参数应该为String类型！');
      if (!(isInt(a2) || typeof a2 === 'string' || typeof a2 === 'boolean'))
        return showMessage('save_settings第3个参数使用了不支持的类型！');
      put(a1, a2);
    },
    load_settings: function (a1, a2) {
      if (typeof a1 !== 'string') return showMessage('load_settings第2个参数应该为String类型！');
      if (!(isInt(a2) || typeof a2 === 'string' || typeof a2 === 'boolean'))
        return showMessage('load_settings第3个参数使用了不支持的类型！');
      var s = store[a1];
      if (typeof a2 === 'string') return s && s.t === 's' ? s.v : a2;
      if (!s || s.t !== 'i') return a2;
      if (typeof a2 === 'boolean') return s.v !== 0;
      return (s.v << 16) >> 16;
    },
    messagebox: function (a1, a2) {
      if (typeof a1 === 'string') N.messages.push({ text: a1, icon: isInt(a2) ? a2 : 0 });
    },
    open_ie: function (a1) { if (typeof a1 === 'string') N.opened.push(a1); },
    get_data: function (a1) {
      if (typeof a1 !== 'string') return undefined;
      return cfg.data[a1] === undefined ? '' : cfg.data[a1];
    },
    is_key_connect: function (a1, a2) {
      if (typeof a1 !== 'string') return undefined;
      var present = any(a1.split('|'), function (t) {
        var id = parseInt(t, 16) || 0;
        return any(cfg.pluggedKeys, function (k) { return parseInt(k, 16) === id; });
      });
      if (present) callPage('onkeyPlugined', [isInt(a2) ? a2 : 0]);
      return present;
    },
    do_check: function (a1) {
      if (typeof a1 === 'string') return typeAnswer(a1, cfg.checks[a1] !== false);
      if (isInt(a1)) return a1 >= 0 && a1 < cfg.items.length ? itemAnswer(a1, itemStatus(a1)) : undefined;
      return undefined;
    },
    do_fix: function (a1) {
      if (typeof a1 === 'string') {
        if (a1 === 'cache') N.messages.push({ text: '清理结束', icon: 0 });
        else if (!has(cfg.unfixable, a1)) cfg.checks[a1] = true;
        return typeAnswer(a1, cfg.checks[a1] !== false);
      }
      return commands.do_install(a1);
    },
    do_install: function (a1) {
      if (!isInt(a1) || a1 < 0 || a1 >= cfg.items.length) return undefined;
      var fails = has(cfg.installFails, a1);
      // The download reports progress while the command runs, before its answer.
      progressPlan = [[0, a1, true], [50, a1, true], [fails ? 30 : 100, a1, !fails]];
      if (!fails) cfg.items[a1].status = 0;
      return itemAnswer(a1, itemStatus(a1));
    },
    get_version: function (a1) {
      if (a1 === 'ieversion') return cfg.ieversion === undefined ? '11.0.9600.19507' : cfg.ieversion;
      if (a1 === 'sysversion') return cfg.sysversion === undefined ? 'Windows 7 Service Pack 1' : cfg.sysversion;
      return undefined;
    },
    debug_print: function (a1) { if (typeof a1 === 'string') N.debug.push(a1); },
    delay_ms: function () {},
    call_js: function (a1, a2, a3, a4) { if (typeof a1 === 'string') callPage(a1, [a2, a3, a4]); },
    do_extra_startup: function () { return cfg.startMode || 'Normal'; },
    check_update: function (a1) {
      if (a1 === true && !cfg.updateAvailable) showMessage('应用程序为当前最新版本。');
    },
    update_key_info: function (a1, a2) {
      if (!isInt(a1)) return showMessage('update_key_info第2个参数应该为int类型！');
      var text = typeof a2 === 'string' && cfg.keyCerts[a2] ? cfg.keyCerts[a2] : '';
      var pieces = text.split(';');
      var names = ['sn', 'issuer', 'subject', 'date'];
      var four = pieces.length === 4;
      each(names, function (n, i) { callPage('setKeyInfo', [a1 >>> 0, n, four ? pieces[i] : '']); });
      if (four) callPage('is_can_Open_update', []);
      return a1;
    },
    restart_app: function () {},
    http_post: function () { return ''; },
    // The host reads the bank's notice file as data and answers its texts (cfg.notices).
    get_notices: function () {
      var notices = cfg.notices || [], parts = [];
      for (var i = 0; i < notices.length; i++) parts.push(jsonQuoted(notices[i]));
      return '[' + parts.join(',') + ']';
    },
    start_with_boot: function (a1) { if (typeof a1 === 'boolean') N.autostart.push(a1); },
    set_Log: function () {},
    Get_SM_info: function () { return ''; },
    mini_size: function () {},
    quit: function () {}
  };

  function resolve(name) {
    if (typeof name === 'string') return commands.hasOwnProperty(name) ? name : null;
    if (isInt(name)) return IDS[name] || null;
    return null;
  }

  function record(via, name, args) {
    N.calls.push({ via: via, name: name, args: Array.prototype.slice.call(args), t: new Date().getTime() });
  }

  function run(name, args) {
    var cmd = resolve(name);
    return cmd ? commands[cmd].apply(null, args) : undefined;
  }

  function deliver(callback, result) {
    if (!callback || typeof callback !== 'function') return;
    try {
      callback.call(callback, result);
    } catch (e) {
      N.errors.push('callback: ' + (e && e.message));
    }
  }

  function latencyOf(name) {
    var l = cfg.latency[name];
    return l === undefined ? (cfg.defaultLatency === undefined ? 10 : cfg.defaultLatency) : l;
  }

  // Runs one asynchronous command; a held command waits until the test releases it,
  // keeping its thread (for asyncallc: the one worker) busy meanwhile.
  var progressPlan = null;

  function work(name, args, callback, done) {
    setTimeout(function () {
      progressPlan = null;
      var result = run(name, args);
      var plan = progressPlan || [];
      progressPlan = null;
      var step = function () {
        if (plan.length) {
          callPage('setProgress', plan.shift());
          setTimeout(step, 100);
          return;
        }
        answer(result);
      };
      step();
    }, latencyOf(name));
    function answer(result) {
      if (has(cfg.hold, name)) {
        N.held.push({
          name: name,
          release: function (value) {
            deliver(callback, value === undefined ? result : value);
            done();
          }
        });
        return;
      }
      deliver(callback, result);
      done();
    }
  }

  var fifo = [];
  function pumpWorker() {
    if (N.workerBusy || !fifo.length) return;
    N.workerBusy = true;
    var job = fifo.shift();
    work(job.name, job.args, job.callback, function () {
      N.workerBusy = false;
      pumpWorker();
    });
  }

  N.release = function (name, value) {
    for (var i = 0; i < N.held.length; i++) {
      if (N.held[i].name === name) {
        var h = N.held.splice(i, 1)[0];
        h.release(value);
        return true;
      }
    }
    return false;
  };
  N.pending = function () { return fifo.length + (N.workerBusy ? 1 : 0); };

  // Probes for the tests, which read the page through them.

  // Rows of a result list as "id|name|text|visible links".
  N.rows = function (listId) {
    var out = [];
    each(document.querySelectorAll('#' + listId + ' tr.item'), function (tr) {
      var parts = [tr.id, textOf.call(tr.querySelector('td.name')), textOf.call(tr.querySelector('td.text'))];
      each(tr.querySelectorAll('td.op a'), function (a) {
        if (a.style.display !== 'none') parts.push(textOf.call(a));
      });
      out.push(parts.join('|'));
    });
    return out;
  };

  // Records every value the element shows from now on: its text, or a style property.
  N.watched = {};
  N.watch = function (key, selector, prop) {
    var seen = (N.watched[key] = []);
    var el = document.querySelector(selector);
    new Observer(function () {
      var v = prop ? el.style[prop] : el.innerText;
      if (seen[seen.length - 1] !== v) seen.push(v);
    }).observe(el, { attributes: true, childList: true, characterData: true, subtree: true });
  };

  N.style = function (selector, prop) {
    return computedStyle(document.querySelector(selector))[prop];
  };

  // Answers whether the page cancelled a wheel turn over the element.
  N.wheel = function (selector) {
    var e = new WheelEvent('wheel', { deltaY: 120, wheelDelta: -120, bubbles: true, cancelable: true });
    var m = new WheelEvent('mousewheel', { deltaY: 120, bubbles: true, cancelable: true });
    var el = document.querySelector(selector);
    dispatch.call(el, e);
    dispatch.call(el, m);
    return { wheel: e.defaultPrevented, mousewheel: m.defaultPrevented };
  };

  var external = {
    callc: function (name, a1, a2, a3, a4) {
      record('callc', name, arguments);
      return run(name, [a1, a2, a3, a4]);
    },
    asyncallc: function (callback, name, a1, a2, a3, a4) {
      record('asyncallc', name, Array.prototype.slice.call(arguments, 1));
      fifo.push({ name: name, args: [a1, a2, a3, a4], callback: typeof callback === 'function' ? callback : null });
      pumpWorker();
    },
    asyncalld: function (callback, name, a1, a2, a3, a4) {
      record('asyncalld', name, Array.prototype.slice.call(arguments, 1));
      work(name, [a1, a2, a3, a4], typeof callback === 'function' ? callback : null, function () {});
    },
    getCom: function () { return undefined; }
  };
  Object.defineProperty(window, 'external', { value: external, configurable: true, writable: true });
  window.alert = function (text) { N.errors.push('alert used: ' + text); };
})(__CFG__);
