/* Bridge wrappers, the page-wide step queue and the check, repair, install, key and update flows. */
var Velmora = window.Velmora || {};

(function ($, V) {
    'use strict';

    /* ---- bridge ---- */

    function host() {
        return window.external;
    }

    // Synchronous command; an absent or failing host answers undefined like an unknown command.
    V.callc = function (name, a1, a2, a3, a4) {
        try {
            return host().callc(name, a1, a2, a3, a4);
        } catch (e) {
            return undefined;
        }
    };

    function callAsync(method, name, a1, a2, a3, a4, done) {
        var callback = function (result) {
            try {
                if (done) {
                    done(result);
                }
            } catch (e) {
                recover(method, e);
            }
        };
        try {
            host()[method](callback, name, a1, a2, a3, a4);
        } catch (e) {
            // No host: answer empty so that the flow moves on.
            window.setTimeout(function () {
                callback(undefined);
            }, 0);
        }
    }

    // Queued on the host's one worker: strictly one after another.
    V.asyncallc = function (name, a1, a2, a3, a4, done) {
        callAsync('asyncallc', name, a1, a2, a3, a4, done);
    };

    // On a thread of its own: not held up by the worker's queue.
    V.asyncalld = function (name, a1, a2, a3, a4, done) {
        callAsync('asyncalld', name, a1, a2, a3, a4, done);
    };

    /* ---- answers: JSON text, read as data and never run as script ---- */

    var ESCAPES = { '"': '"', '\\': '\\', '/': '/', b: '\b', f: '\f', n: '\n', r: '\r', t: '\t' };

    // A strict JSON reader for engines without window.JSON (IE7 document mode). Accepts what
    // JSON.parse accepts and throws a SyntaxError otherwise. A member named "__proto__" is
    // dropped: without defineProperty it cannot become an own property.
    V.parseJson = function (text) {
        if (typeof text !== 'string') {
            throw new SyntaxError('JSON text must be a string');
        }
        var at = 0;
        var n = text.length;

        function fail() {
            throw new SyntaxError('unexpected ' + (at < n ? '"' + text.charAt(at) + '"' : 'end') + ' at ' + at);
        }

        function space() {
            var c;
            while (at < n) {
                c = text.charAt(at);
                if (c !== ' ' && c !== '\t' && c !== '\n' && c !== '\r') {
                    return;
                }
                at++;
            }
        }

        function digits() {
            var start = at;
            var c;
            while (at < n) {
                c = text.charAt(at);
                if (c < '0' || c > '9') {
                    break;
                }
                at++;
            }
            return at - start;
        }

        function number() {
            var start = at;
            var c;
            if (text.charAt(at) === '-') {
                at++;
            }
            if (text.charAt(at) === '0') {
                at++;
            } else if (!digits()) {
                fail();
            }
            if (text.charAt(at) === '.') {
                at++;
                if (!digits()) {
                    fail();
                }
            }
            c = text.charAt(at);
            if (c === 'e' || c === 'E') {
                at++;
                c = text.charAt(at);
                if (c === '+' || c === '-') {
                    at++;
                }
                if (!digits()) {
                    fail();
                }
            }
            return Number(text.substring(start, at));
        }

        function string() {
            var out = '';
            var run = ++at;
            var c, hex;
            for (;;) {
                if (at >= n) {
                    fail();
                }
                c = text.charAt(at);
                if (c === '"') {
                    out += text.substring(run, at++);
                    return out;
                }
                if (c === '\\') {
                    out += text.substring(run, at++);
                    c = text.charAt(at);
                    if (Object.prototype.hasOwnProperty.call(ESCAPES, c)) {
                        out += ESCAPES[c];
                        at++;
                    } else if (c === 'u') {
                        hex = text.substring(at + 1, at + 5);
                        if (!/^[0-9a-fA-F]{4}$/.test(hex)) {
                            fail();
                        }
                        out += String.fromCharCode(parseInt(hex, 16));
                        at += 5;
                    } else {
                        fail();
                    }
                    run = at;
                } else if (c < ' ') {
                    // Control characters must be escaped.
                    fail();
                } else {
                    at++;
                }
            }
        }

        function word(w, result) {
            if (text.substring(at, at + w.length) !== w) {
                fail();
            }
            at += w.length;
            return result;
        }

        function array() {
            var list = [];
            at++;
            space();
            if (text.charAt(at) === ']') {
                at++;
                return list;
            }
            for (;;) {
                list[list.length] = value();
                space();
                if (text.charAt(at) === ']') {
                    at++;
                    return list;
                }
                if (text.charAt(at) !== ',') {
                    fail();
                }
                at++;
            }
        }

        function object() {
            var obj = {};
            var key, member;
            at++;
            space();
            if (text.charAt(at) === '}') {
                at++;
                return obj;
            }
            for (;;) {
                space();
                if (text.charAt(at) !== '"') {
                    fail();
                }
                key = string();
                space();
                if (text.charAt(at) !== ':') {
                    fail();
                }
                at++;
                member = value();
                if (key !== '__proto__') {
                    obj[key] = member;
                }
                space();
                if (text.charAt(at) === '}') {
                    at++;
                    return obj;
                }
                if (text.charAt(at) !== ',') {
                    fail();
                }
                at++;
            }
        }

        function value() {
            space();
            var c = text.charAt(at);
            if (c === '{') {
                return object();
            }
            if (c === '[') {
                return array();
            }
            if (c === '"') {
                return string();
            }
            if (c === 't') {
                return word('true', true);
            }
            if (c === 'f') {
                return word('false', false);
            }
            if (c === 'n') {
                return word('null', null);
            }
            if (c === '-' || (c >= '0' && c <= '9')) {
                return number();
            }
            return fail();
        }

        var result = value();
        space();
        if (at !== n) {
            fail();
        }
        return result;
    };

    // The engine's own reader where it has one (IE8 document mode and later).
    function readJson(text) {
        var json = window.JSON;
        return json && typeof json.parse === 'function' ? json.parse(text) : V.parseJson(text);
    }

    // An answer is an object, or nothing: unreadable text (including nesting too deep for
    // the engine's stack) reads as no answer.
    V.parseAnswer = function (text) {
        if (typeof text !== 'string' || !text) {
            return null;
        }
        try {
            var value = readJson(text);
            return value && typeof value === 'object' ? value : null;
        } catch (e) {
            return null;
        }
    };

    V.message = function (text, icon) {
        V.callc('messagebox', text, icon || 0);
    };

    /* ---- page-wide queue: every flow runs its steps strictly one after another ---- */

    var queue = [];
    var busy = false;
    var currentNext = null;

    // A fault inside an answer must not leave the page stuck: the step it belonged to ends
    // (asyncallc and timers serve only queue steps; asyncalld only the key panel).
    function recover(origin, e) {
        V.callc('debug_print', 'page fault in ' + origin + ': ' + (e && e.message), false);
        if (origin === 'asyncalld') {
            state.keyRefreshing = false;
        } else if (currentNext) {
            currentNext();
        }
    }

    // Runs one step; answers true when it already finished. A step's onEnd runs when it
    // ends, also when a fault ended it.
    function runStep(step) {
        var finished = false;
        var sync = true;
        busy = true;
        var next = function () {
            if (finished) {
                return;
            }
            finished = true;
            busy = false;
            currentNext = null;
            if (step.onEnd) {
                step.onEnd();
            }
            if (!sync) {
                pump();
            }
        };
        currentNext = next;
        try {
            step(next);
        } catch (e) {
            recover('step', e);
        }
        sync = false;
        return finished;
    }

    function pump() {
        while (!busy && queue.length) {
            if (!runStep(queue.shift())) {
                return;
            }
        }
    }

    V.enqueue = function (step) {
        queue.push(step);
        pump();
    };

    // Puts steps at the head of the queue, in their order: a flow expands itself when it
    // starts, so later flows stay behind all of its steps.
    function runFirst(steps) {
        var i;
        for (i = steps.length - 1; i >= 0; i--) {
            queue.unshift(steps[i]);
        }
    }

    function delayed(ms, fn) {
        window.setTimeout(function () {
            try {
                fn();
            } catch (e) {
                recover('timer', e);
            }
        }, ms);
    }

    /* ---- items ---- */

    function fixed(type, name, ok, fail, op, detail) {
        return { type: type, name: name, ok: ok, fail: fail, op: op, detail: detail };
    }

    // In checking order.
    var FIXED = [
        fixed('cache', '缓存', '', '', '清除', false),
        fixed('registry', '注册表', '正常', '异常', '修复', false),
        fixed('host', 'HOST文件', '正常', '异常', '修复', true),
        fixed('cfca', 'CFCA根证书', '正常', '异常', '修复', false),
        fixed('iehomepage', '首页锁定', '正常', '异常', '修复', false),
        fixed('compatibility', '兼容性站点加入', '已加入', '未加入', '加入', true),
        fixed('trust', '网银可信站点加入', '已加入', '未加入', '加入', true),
        fixed('connection', '网络连接', '正常', '异常', '', false),
        fixed('url', '网银服务', '正常', '异常', '', true),
        fixed('dns', 'DNS解析', '正常', '异常', '', true),
        fixed('firewall', '防火墙检测', '正常', '注意', '', true),
        fixed('winupdate', 'Windows自动更新', '自动', '禁用', '', false),
        fixed('proxy', 'Http代理服务', '代理上网', '无代理', '', false)
    ];

    var STATUS_TEXT = ['已安装', '已禁用', '有升级', '未安装'];
    var STATUS_OP = ['', '修复', '升级', '安装'];

    // Custom items by index, filled by the host through setItemInfo.
    var custom = [];

    var state = {
        checking: false,
        checkQueued: false,
        fixingAll: false,
        // The one-click repair that covers a press now: queued or running, with no check
        // queued after it.
        fixAll: null,
        updating: false,
        keyRefreshing: false,
        probeQueued: false,
        noticesLoaded: false,
        updateStrategy: 1,
        updateStatus: 0
    };

    function fixedItem(type) {
        var i;
        for (i = 0; i < FIXED.length; i++) {
            if (FIXED[i].type === type) {
                return FIXED[i];
            }
        }
        return null;
    }

    function eachCustom(fn) {
        var i;
        for (i = 0; i < custom.length; i++) {
            if (custom[i]) {
                fn(custom[i], i);
            }
        }
    }

    function customByFlag(flag) {
        var found = null;
        eachCustom(function (item) {
            if (!found && String(item.flag) === String(flag)) {
                found = item;
            }
        });
        return found;
    }

    // The configuration marks key-driver items by type "key"; a class "key" does the same.
    function isKeyItem(item) {
        return item.cls === 'key' || item.type === 'key';
    }

    // What identifies a key item as KeyType: its type, or its flag when the type is just "key".
    function keyIdent(item) {
        return item.type === 'key' ? String(item.flag) : String(item.type);
    }

    function rowId(item) {
        return 'idItem_' + (item.flag ? item.flag : 'item' + item.index);
    }

    function contains(text, part) {
        return String(text || '').indexOf(part) >= 0;
    }

    /* ---- rows ---- */

    function placeFixed(item) {
        var passed = item.status === true;
        var cls;
        if (item.type === 'proxy' || passed) {
            cls = V.OK;
        } else {
            cls = item.op ? V.FAILED : V.WARNING;
        }
        V.addRow({
            id: 'idItem_' + item.type,
            cls: cls,
            image: passed ? V.OK : cls,
            name: item.name,
            text: passed ? item.ok : item.fail,
            op: item.op && (!passed || item.type === 'cache') ? item.op : '',
            onOp: function () {
                V.fixItem(item.type);
            },
            details: item.detail ? item.details : null
        });
    }

    function placeCustom(item) {
        var status = item.status;
        V.addRow({
            id: rowId(item),
            cls: status === 0 ? V.OK : V.FAILED,
            name: item.name,
            text: STATUS_TEXT[status],
            op: STATUS_OP[status],
            onOp: function () {
                V.installItem(item.flag ? item.flag : item.index);
            }
        });
    }

    function applyFixedAnswer(item, text) {
        var answer = V.parseAnswer(text);
        item.status = !!answer && (answer.result === true || answer.result === 'true');
        item.details = answer && $.isArray(answer.details) ? answer.details : null;
        placeFixed(item);
        if (item.type === 'connection') {
            V.setConnection(item.status);
        }
    }

    function applyCustomAnswer(item, text) {
        var answer = V.parseAnswer(text);
        var status = answer ? parseInt(answer.result, 10) : NaN;
        // No answer (an index the host does not know) shows as not installed.
        item.status = status >= 0 && status <= 3 ? status : 3;
        placeCustom(item);
    }

    function isChecked(item) {
        return !!item.selected;
    }

    // 0 nothing, 1 only things the assistant cannot repair, 3 something to repair.
    V.classify = function () {
        var cls = 0;
        var i, item;
        for (i = 0; i < FIXED.length; i++) {
            item = FIXED[i];
            if (item.type !== 'proxy' && item.status === false) {
                cls |= item.op ? 3 : 1;
            }
        }
        eachCustom(function (c) {
            if (isChecked(c) && c.status !== 0) {
                cls |= 3;
            }
        });
        return cls;
    };

    /* ---- full check ---- */

    function checkFixedStep(item, pos, total) {
        return function (next) {
            delayed(300, function () {
                V.notify('正在检测' + item.name + '...');
                V.asyncallc('do_check', item.type, undefined, undefined, undefined, function (text) {
                    applyFixedAnswer(item, text);
                    V.setProgressBar((pos + 1) * 100 / total);
                    next();
                });
            });
        };
    }

    function checkCustomStep(item, pos, total) {
        return function (next) {
            delayed(300, function () {
                V.notify(isKeyItem(item) ? '正在检测USBKEY驱动...' : '正在检测' + item.name + '...');
                V.asyncallc('do_check', item.index, undefined, undefined, undefined, function (text) {
                    applyCustomAnswer(item, text);
                    V.setProgressBar((pos + 1) * 100 / total);
                    next();
                });
            });
        };
    }

    function ieVersionText(raw) {
        var major = parseInt(raw, 10);
        return major >= 4 && major <= 11 ? 'IE' + major : raw;
    }

    var SYSTEM_NAMES = [
        ['Windows 10', 'Windows 10'],
        ['Windows 8.1', 'Windows 8.1'],
        ['Windows 8', 'Windows 8'],
        ['Windows 7', 'Windows 7'],
        ['Windows Vista', 'Windows Vista'],
        ['Windows Server 2008', 'Windows 2008'],
        ['Windows Server 2003', 'Windows 2003'],
        ['Windows XP', 'Windows XP'],
        ['Windows 2000', 'Windows 2000']
    ];

    function systemVersionText(raw) {
        var i;
        for (i = 0; i < SYSTEM_NAMES.length; i++) {
            if (contains(raw, SYSTEM_NAMES[i][0])) {
                return SYSTEM_NAMES[i][1];
            }
        }
        return raw;
    }

    function versionRows() {
        var ie = V.callc('get_version', 'ieversion', '无');
        var sys = V.callc('get_version', 'sysversion', '无');
        ie = typeof ie === 'string' && ie ? ieVersionText(ie) : '无';
        sys = typeof sys === 'string' && sys ? systemVersionText(sys) : '无';
        V.addRow({ id: 'idItem_ieversion', cls: V.OK, name: 'IE版本', text: ie });
        V.addRow({ id: 'idItem_sysversion', cls: V.OK, name: '系统版本', text: sys });
    }

    function finishCheck(next) {
        var now = new Date();
        V.saveSetting('LastTimeCheck', V.dateText(now));
        V.setLastCheck(now);
        var cls = V.classify();
        V.refreshKeyPanel();
        if (cls === 3) {
            V.setResult('检测完毕，有需要修复项目，请修复！', V.COLOR_REPAIR);
        } else {
            V.setResult('您的电脑已达到安全要求，可放心登录网银', V.COLOR_SAFE);
        }
        V.notify('检测完成');
        state.checking = false;
        next();
    }

    function beginCheck() {
        state.checking = true;
        // Items may have arrived or settings changed since the last selection.
        V.selectItems();
        V.notify('开始检测...');
        V.setResult('');
        V.clearLists();
        V.setProgressBar(0);
        versionRows();

        var steps = [];
        var targets = [];
        var i;
        for (i = 0; i < FIXED.length; i++) {
            targets.push({ fixed: FIXED[i] });
        }
        eachCustom(function (item) {
            if (isChecked(item)) {
                targets.push({ custom: item });
            }
        });
        for (i = 0; i < targets.length; i++) {
            steps.push(targets[i].fixed ?
                checkFixedStep(targets[i].fixed, i, targets.length) :
                checkCustomStep(targets[i].custom, i, targets.length));
        }
        steps.push(finishCheck);
        runFirst(steps);
    }

    // A check already waiting to start covers a second request; it reads the item
    // selection only when it starts.
    V.fullCheck = function () {
        if (state.checkQueued) {
            return;
        }
        state.checkQueued = true;
        // After this check a one-click repair has new results to work on.
        state.fixAll = null;
        V.enqueue(function (next) {
            state.checkQueued = false;
            beginCheck();
            next();
        });
    };

    /* ---- repair and install ---- */

    // Every repair or install of an item is a request; an item has at most one waiting or
    // running (item.ticket), so a second click adds nothing. A one-click repair that reaches
    // an item whose request waits behind it takes the item over and cancels that request,
    // which then ends without a word: the item is repaired once and no per-item text
    // follows the summary.
    function request(item, body) {
        if (item.ticket) {
            item.ticket.cancelled = true;
        }
        var ticket = { cancelled: false, aheadOf: null };
        item.ticket = ticket;
        var step = function (next) {
            if (ticket.cancelled) {
                next();
            } else {
                body(next);
            }
        };
        step.onEnd = function () {
            if (item.ticket === ticket) {
                item.ticket = null;
                item.lastTicket = ticket;
            }
        };
        return step;
    }

    function eachItem(fn) {
        var i;
        for (i = 0; i < FIXED.length; i++) {
            fn(FIXED[i]);
        }
        eachCustom(fn);
    }

    function fixStep(item) {
        return function (next) {
            delayed(200, function () {
                if (!state.fixingAll) {
                    V.setResult('正在' + item.op + item.name + '...');
                }
                var stop = V.animateRow('idItem_' + item.type, '正在' + item.op);
                V.asyncallc('do_fix', item.type, undefined, undefined, undefined, function () {
                    V.asyncallc('do_check', item.type, undefined, undefined, undefined, function (text) {
                        stop();
                        applyFixedAnswer(item, text);
                        if (!state.fixingAll) {
                            if (V.classify() <= 1) {
                                V.setResult('修复完成，无需要修复项目！', V.COLOR_FIXED);
                            } else if (item.status) {
                                V.setResult(item.name + item.op + '成功！', V.COLOR_SAFE);
                            } else {
                                V.setResult(item.name + item.op + '失败！', V.COLOR_REPAIR);
                            }
                        }
                        next();
                    });
                });
            });
        };
    }

    function installStep(item) {
        return function (next) {
            delayed(200, function () {
                if (!state.fixingAll) {
                    V.setResult(isKeyItem(item) ? '正在安装USBKEY驱动...' : '正在安装' + item.name + '...');
                }
                var stop = V.animateRow(rowId(item), '正在修复');
                V.asyncallc('do_install', item.index, undefined, undefined, undefined, function (text) {
                    var answer = V.parseAnswer(text);
                    var index = answer && typeof answer.index === 'number' ? answer.index : item.index;
                    V.asyncallc('do_check', index, undefined, undefined, undefined, function (checked) {
                        stop();
                        applyCustomAnswer(item, checked);
                        if (!state.fixingAll) {
                            V.setResult(item.name + (item.status === 0 ? '修复成功！' : '修复失败！'),
                                item.status === 0 ? V.COLOR_SAFE : V.COLOR_REPAIR);
                        }
                        if (isKeyItem(item)) {
                            V.refreshKeyPanel();
                        }
                        next();
                    });
                });
            });
        };
    }

    V.fixItem = function (type) {
        var item = fixedItem(type);
        if (!item || !item.op || item.ticket) {
            return;
        }
        V.enqueue(request(item, fixStep(item)));
    };

    // By flag (or, for an item without one, by index).
    V.installItem = function (flag) {
        var item = customByFlag(flag);
        if (!item && typeof flag === 'number') {
            item = custom[flag];
        }
        if (!item || item.ticket) {
            return;
        }
        V.enqueue(request(item, installStep(item)));
    };

    // A press while a one-click repair is queued or running adds nothing, unless a check
    // was queued after it.
    V.fixAll = function () {
        if (state.fixAll) {
            return;
        }
        var run = {};
        state.fixAll = run;
        // Requests waiting now are answered before this repair starts; it leaves their items
        // to them rather than repairing them a second time.
        eachItem(function (item) {
            if (item.ticket) {
                item.ticket.aheadOf = run;
            }
        });
        function wanted(item) {
            return !(item.lastTicket && item.lastTicket.aheadOf === run);
        }
        V.enqueue(function (next) {
            state.fixingAll = true;
            V.notify('开始全面修复...');
            var steps = [];
            var i, item;
            for (i = 0; i < FIXED.length; i++) {
                item = FIXED[i];
                if ((item.type === 'cache' || (item.status === false && item.op)) && wanted(item)) {
                    steps.push(request(item, fixStep(item)));
                }
            }
            eachCustom(function (c) {
                if (isChecked(c) && c.status !== 0 && wanted(c)) {
                    steps.push(request(c, installStep(c)));
                }
            });
            steps.push(function (done) {
                state.fixingAll = false;
                if (state.fixAll === run) {
                    state.fixAll = null;
                }
                if (V.classify() <= 1) {
                    V.setResult('您的电脑已达到安全要求，可放心登录网银', V.COLOR_SAFE);
                } else {
                    V.setResult('修复失败，有需要修复项目！', V.COLOR_REPAIR);
                }
                V.notify('修复完成');
                done();
            });
            runFirst(steps);
            next();
        });
    };

    /* ---- customer kind ---- */

    function userMask(item) {
        var mask = parseInt(item.user, 10);
        // Items without a mask apply to every customer.
        return isNaN(mask) ? 6 : mask;
    }

    V.selectItems = function () {
        var userType = V.loadInt('UserType', 0);
        var safeType = V.loadInt('safeType', 7);
        var keyType = String(V.loadSetting('KeyType', ''));
        eachCustom(function (item) {
            if (isKeyItem(item)) {
                item.selected = userType === 1 && keyIdent(item) === keyType;
            } else if (contains(item.type, 'safe')) {
                item.selected = (safeType & userMask(item)) !== 0;
            } else {
                item.selected = true;
            }
        });
    };

    V.applyCustomerKind = function () {
        V.selectItems();
        if (V.loadInt('AutoCheck', 1) === 1) {
            V.fullCheck();
        }
    };

    /* ---- USB key ---- */

    var KEY_MODELS = { FT_A: '飞天A型', FT_C: '飞天C型', FT_2: '飞天二代' };

    function firstSelectedKeyItem() {
        var found = null;
        eachCustom(function (item) {
            if (!found && isKeyItem(item) && item.selected) {
                found = item;
            }
        });
        return found;
    }

    function showKeyModel() {
        var model = KEY_MODELS[V.loadSetting('keytype', 'XA')];
        V.showKeyModel(model ? '当前型号：' + model : '尚未选择USBKEY型号');
    }

    function keyRows(item) {
        var rows = [];
        function add(label, value) {
            if (value !== undefined && value !== null && value !== '') {
                rows.push([label, String(value)]);
            }
        }
        add('名称', item.TokenName);
        add('证书数量', item.CertCount);
        add('证书序列号', item.sn || item.SN);
        add('颁发者', item.issuer || item.Issuer);
        add('使用者', item.subject || item.Subject);
        if (item.BeginTime || item.EndTime) {
            add('有效期', (item.BeginTime || '') + ' - ' + (item.EndTime || ''));
        } else {
            add('有效期', item.date);
        }
        if (item.ServiceEnabled !== undefined) {
            add('密钥管理服务', String(item.ServiceEnabled) === '1' ? '已启动' : '未启动');
        }
        add('软件版本', item.SoftwareVersion);
        return rows;
    }

    function keyTitle(item) {
        var keyType = String(V.loadSetting('KeyType', ''));
        var kind = keyType.charAt(keyType.length - 1) === '1' ? '个人网银 - ' : '企业网银 - ';
        return kind + (item.FactoryName ? item.FactoryName + 'UK' : item.name);
    }

    // Only one refresh at a time; a request during a refresh is dropped.
    V.refreshKeyPanel = function () {
        if (state.keyRefreshing) {
            return;
        }
        showKeyModel();
        var item = firstSelectedKeyItem();
        if (!item) {
            V.showKeyMessage(V.loadInt('UserType', 0) === 1 ?
                '未找到您的USBKEY的驱动配置' : '未检测到USBKEY，插入USBKEY后将自动识别');
            return;
        }
        state.keyRefreshing = true;
        var finish = function () {
            state.keyRefreshing = false;
        };
        V.asyncalld('do_check', item.index, undefined, undefined, undefined, function (text) {
            var answer = V.parseAnswer(text);
            var status = answer ? parseInt(answer.result, 10) : 3;
            if (status % 2 === 1 || isNaN(status)) {
                V.showKeyMessage('USBKEY驱动未安装或已禁用', true);
                finish();
                return;
            }
            // -1: not an item index, so the host's plug notification selects nothing.
            if (V.callc('is_key_connect', String(item.keyid || ''), -1) !== true) {
                V.showKeyMessage('请插入USBKEY');
                finish();
                return;
            }
            var model = V.loadSetting('keytype', 'XA');
            var provider = KEY_MODELS[model] ? V.callc('get_data', 'csp_' + model) : '';
            if (typeof provider !== 'string' || !provider) {
                V.showKeyInfo(keyTitle(item), keyRows(item),
                    KEY_MODELS[model] ? '无法读取该型号USBKEY的证书' : '请选择USBKEY型号以读取证书');
                finish();
                return;
            }
            V.asyncalld('update_key_info', item.index, provider, undefined, undefined, function () {
                var rows = keyRows(item);
                V.showKeyInfo(keyTitle(item), rows, item.sn ? '' : 'USBKEY中未读取到证书');
                finish();
            });
        });
    };

    V.onKeyPlugged = function (type) {
        type = String(type);
        var found = null;
        eachCustom(function (item) {
            if (isKeyItem(item)) {
                item.selected = keyIdent(item) === type;
                if (item.selected) {
                    found = item;
                }
            }
        });
        if (!found) {
            return;
        }
        if (V.loadInt('UserType', 0) !== 1 || String(V.loadSetting('KeyType', '')) !== type) {
            V.saveSetting('KeyType', type);
            // Personal keys carry a type ending in "1".
            V.saveSetting('safeType', type.charAt(type.length - 1) === '1' ? 2 : 4);
            V.saveSetting('UserType', 1);
            V.applyCustomerKind();
        }
        V.refreshKeyPanel();
    };

    // Asks the host, one key item after another, whether its key is plugged in; the host
    // answers a present key through onkeyPlugined with the index passed along.
    function probeKeys(next) {
        state.probeQueued = false;
        var present = false;
        eachCustom(function (item) {
            if (!present && isKeyItem(item) && item.keyid) {
                present = V.callc('is_key_connect', String(item.keyid), item.index) === true;
            }
        });
        if (!present) {
            window.onKeyUnplugged();
        }
        next();
    }

    V.probeKeys = function () {
        if (state.probeQueued) {
            return;
        }
        state.probeQueued = true;
        V.enqueue(probeKeys);
    };

    /* ---- notices ---- */

    // Notice snippets are HTML written by the bank, but they run inside a page that can reach the
    // native side: only a few formatting tags and harmless attributes survive, links and images
    // only to http(s) addresses, and everything else is dropped (script and style with their text).
    var NOTICE_TAGS = {
        a: ['href', 'title', 'target'], b: [], br: [], div: ['class'], em: [], font: ['color', 'size'],
        hr: [], i: [], img: ['src', 'alt', 'width', 'height'], li: [], ol: [], p: ['class'],
        span: ['class', 'title'], strong: [], u: [], ul: []
    };
    var NOTICE_URL_ATTRIBUTES = { href: true, src: true };
    var NOTICE_DROPPED_WITH_TEXT = { script: true, style: true, xml: true, textarea: true, title: true };

    function escapeHtml(text) {
        return text.replace(/&(?![a-zA-Z0-9#]+;)/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;')
            .replace(/"/g, '&quot;');
    }

    function noticeAttributes(tag, text) {
        var allowed = NOTICE_TAGS[tag], out = '', match, name, value, i, known;
        var pattern = /([^\s"'=/]+)(?:\s*=\s*("[^"]*"|'[^']*'|[^\s"'>]+))?/g;
        while ((match = pattern.exec(text)) !== null) {
            name = match[1].toLowerCase();
            value = match[2] === undefined ? '' : match[2].replace(/^["']|["']$/g, '');
            known = false;
            for (i = 0; i < allowed.length; i++) {
                known = known || allowed[i] === name;
            }
            // An address must be spelt out plainly: escapes could hide "javascript:".
            if (!known || (NOTICE_URL_ATTRIBUTES[name] && (!/^https?:\/\//i.test(value) || /[&\\\s]/.test(value)))) {
                continue;
            }
            out += ' ' + name + '="' + escapeHtml(value) + '"';
        }
        return out;
    }

    V.sanitizeNotice = function (html) {
        var out = '', rest = String(html), tag, match, name, end;
        var tagPattern = /^<(\/?)([a-zA-Z][a-zA-Z0-9]*)((?:[^>"']|"[^"]*"|'[^']*')*)>/;
        while (rest) {
            var lt = rest.indexOf('<');
            if (lt < 0) {
                out += escapeHtml(rest);
                break;
            }
            out += escapeHtml(rest.substring(0, lt));
            rest = rest.substring(lt);
            if (rest.substring(0, 4) === '<!--') { // conditional comments included
                end = rest.indexOf('-->', 4);
                rest = end < 0 ? '' : rest.substring(end + 3);
                continue;
            }
            match = tagPattern.exec(rest);
            if (!match) {
                out += '&lt;';
                rest = rest.substring(1);
                continue;
            }
            rest = rest.substring(match[0].length);
            name = match[2].toLowerCase();
            if (NOTICE_DROPPED_WITH_TEXT[name] && !match[1]) {
                end = rest.toLowerCase().indexOf('</' + name);
                rest = end < 0 ? '' : rest.substring(end);
                continue;
            }
            if (Object.prototype.hasOwnProperty.call(NOTICE_TAGS, name)) {
                tag = match[1] ? '</' + name + '>' : '<' + name + noticeAttributes(name, match[3]) + '>';
                out += tag;
            }
        }
        return out;
    };

    // The notice file is fetched and read by the native side, as data: nothing of it runs here.
    // The texts still pass the snippet filter when they are shown. On a thread of its own, so that
    // a slow notice server never holds up the checks queued on the worker.
    function loadNotices() {
        if (state.noticesLoaded) {
            return;
        }
        state.noticesLoaded = true;
        V.asyncalld('get_notices', undefined, undefined, undefined, undefined, function (text) {
            var notices = V.parseAnswer(text);
            if ($.isArray(notices) && notices.length > 0) {
                V.showNotices(notices);
            }
        });
    }

    function levelStep(next) {
        V.asyncallc('do_check', 'level', undefined, undefined, undefined, function (text) {
            var answer = V.parseAnswer(text);
            if (answer && answer.result === true) {
                loadNotices();
            }
            next();
        });
    }

    /* ---- update check ---- */

    var DAY = 86400000;

    // 30, 7, 1 or 0 by the time since the last update check; a stamp that cannot be read
    // or lies in the future makes the check due.
    V.updateStatus = function (lastText, now) {
        var last = Date.parse(lastText);
        if (isNaN(last) || last > now.getTime()) {
            return 30;
        }
        var elapsed = now.getTime() - last;
        if (elapsed > 30 * DAY) {
            return 30;
        }
        if (elapsed > 7 * DAY) {
            return 7;
        }
        return elapsed > DAY ? 1 : 0;
    };

    function strategyOf(value) {
        value = parseInt(value, 10);
        return value === 0 || value === 1 || value === 7 || value === 30 ? value : 1;
    }

    V.checkUpdate = function (interactive) {
        if (state.updating) {
            return false;
        }
        state.updating = true;
        V.enqueue(function (next) {
            V.asyncallc('check_update', !!interactive, undefined, undefined, undefined, function () {
                var now = new Date();
                V.saveSetting('LastTimeUpdate', V.dateText(now));
                state.updateStatus = V.updateStatus(V.dateText(now), now);
                state.updating = false;
                next();
            });
        });
        return true;
    };

    /* ---- settings dialog ---- */

    function dialogValues() {
        return {
            boot_start: $('#idBootStart').prop('checked') ? 1 : 0,
            AutoCheck: $('#idAutoCheck').prop('checked') ? 1 : 0,
            CloseType: $('#idCloseType').prop('checked') ? 1 : 0,
            update_time: parseInt($('#idUpdateTime').val(), 10)
        };
    }

    function saveDialog() {
        var v = dialogValues();
        V.saveSetting('boot_start', v.boot_start);
        V.saveSetting('AutoCheck', v.AutoCheck);
        V.saveSetting('CloseType', v.CloseType);
        V.saveSetting('update_time', v.update_time);
        return v;
    }

    function loadDialog() {
        var v = {
            boot_start: V.loadInt('boot_start', 1),
            AutoCheck: V.loadInt('AutoCheck', 1),
            CloseType: V.loadInt('CloseType', 1),
            update_time: V.loadInt('update_time', 1)
        };
        $('#idBootStart').prop('checked', v.boot_start === 1);
        $('#idAutoCheck').prop('checked', v.AutoCheck === 1);
        $('#idCloseType').prop('checked', v.CloseType === 1);
        // Anything but a weekly or monthly schedule shows as daily.
        $('#idUpdateTime').val(v.update_time === 7 || v.update_time === 30 ? String(v.update_time) : '1');
        return v;
    }

    /* ---- start-up ---- */

    var START_TABS = { scan: 'check', show: 'check', quicklink: 'links', help: 'help', ukey: 'ukey' };

    function connectionStep(next) {
        V.asyncallc('do_check', 'connection', undefined, undefined, undefined, function (text) {
            var answer = V.parseAnswer(text);
            var online = !!answer && answer.result === true;
            V.setConnection(online);
            V.notify('请检测网银环境');
            if (online) {
                V.enqueue(levelStep);
            }
            next();
        });
    }

    function configStep(firstStart) {
        return function (next) {
            V.asyncallc('get_config', undefined, undefined, undefined, undefined, function () {
                if (firstStart) {
                    V.saveSetting('IsFirstTime', false);
                    V.saveSetting('LastTimeUpdate', V.dateText(new Date()));
                    V.selectItems();
                    V.refreshKeyPanel();
                } else {
                    V.applyCustomerKind();
                    if (state.updateStrategy !== 0 && state.updateStatus >= state.updateStrategy) {
                        V.checkUpdate(false);
                    }
                }
                next();
            });
        };
    }

    V.start = function () {
        var firstStart = V.loadSetting('IsFirstTime', true) === true;
        var settings = firstStart ? saveDialog() : loadDialog();
        V.callc('start_with_boot', settings.boot_start === 1);

        state.updateStrategy = strategyOf(settings.update_time);
        var now = new Date();
        state.updateStatus = V.updateStatus(V.loadSetting('LastTimeUpdate', V.dateText(now)), now);

        var lastCheck = Date.parse(V.loadSetting('LastTimeCheck', ''));
        if (!isNaN(lastCheck)) {
            V.setLastCheck(new Date(lastCheck));
        }

        var mode = V.callc('do_extra_startup');
        if (typeof mode === 'string' && Object.prototype.hasOwnProperty.call(START_TABS, mode)) {
            PageUi.showTab(START_TABS[mode]);
        }
        showKeyModel();
        V.updateCounts();

        V.enqueue(connectionStep);
        V.enqueue(configStep(firstStart));
    };

    /* ---- controls ---- */

    V.bindControls = function () {
        $('#idBtnCheck').on('click', function () {
            V.fullCheck();
        });
        $('#idBtnFixAll').on('click', function () {
            V.fixAll();
        });
        $('#idBtnUpdate').on('click', function () {
            V.checkUpdate(true);
        });
        $('#idBtnSettings').on('click', function () {
            loadDialog();
            PageUi.openDialog('idSettings');
        });
        $('#idSettingsOk').on('click', function () {
            var v = saveDialog();
            V.callc('start_with_boot', v.boot_start === 1);
            state.updateStrategy = strategyOf(v.update_time);
            PageUi.closeDialog('idSettings');
        });
        $('#idBtnKeyType').on('click', function () {
            var model = V.loadSetting('keytype', 'XA');
            $('#idKeyTypeDlg input[name=keytype]').each(function () {
                $(this).prop('checked', $(this).val() === model);
            });
            PageUi.openDialog('idKeyTypeDlg');
        });
        $('#idKeyTypeOk').on('click', function () {
            var model = $('#idKeyTypeDlg input[name=keytype]:checked').val();
            if (!model) {
                V.message('请选择USBKEY型号', 2);
                return;
            }
            V.saveSetting('keytype', model);
            PageUi.closeDialog('idKeyTypeDlg');
            showKeyModel();
            V.fullCheck();
        });
        $('#idBtnKeyRefresh').on('click', function () {
            V.refreshKeyPanel();
        });
        $('#idBtnKeyInstall').on('click', function () {
            var item = firstSelectedKeyItem();
            if (item) {
                PageUi.showTab('check');
                V.installItem(item.flag ? item.flag : item.index);
            }
        });
        $('#idLinkBank, #idLinkCorp').on('click', function () {
            var url = V.callc('get_data', $(this).attr('data-key'));
            if (typeof url === 'string' && url) {
                V.callc('open_ie', url);
            } else {
                V.message('暂时无法获取网银地址，请检查网络后重试。', 2);
            }
        });
        $('#idBtnMin').on('click', function () {
            V.callc('mini_size');
        });
        $('#idBtnClose').on('click', function () {
            V.callc('quit');
        });
    };

    /* ---- functions the host calls by name ---- */

    window.setItemInfo = function (index, field, value) {
        var i = parseInt(index, 10);
        if (isNaN(i) || i < 0 || typeof field !== 'string' || field === 'index') {
            return;
        }
        if (!custom[i]) {
            custom[i] = { index: i, status: 2 };
        }
        custom[i][field] = value;
    };

    window.setKeyInfo = function (type, field, value) {
        if (typeof field !== 'string' || field === 'index') {
            return;
        }
        eachCustom(function (item) {
            if (String(item.type) === String(type) || item.index === Number(type)) {
                item[field] = value;
            }
        });
    };

    window.setProgress = function (progress, index, status) {
        var p = parseInt(progress, 10);
        p = isNaN(p) ? 0 : Math.max(0, Math.min(100, p));
        if (index === undefined || index === null || index === '') {
            V.setProgressBar(p);
            return;
        }
        var i = parseInt(index, 10);
        if (i < 0) {
            if (status === false) {
                V.notify('更新失败！');
                V.setProgressBar(100);
            } else {
                V.notify(p < 100 ? '正在更新网银助手...' : '更新完成');
                V.setProgressBar(p);
            }
            return;
        }
        var item = custom[i];
        if (status === false) {
            V.notify('下载失败！');
        } else {
            V.notify(p < 100 ? '正在下载' + (item ? item.name : '') + '...' : '下载完成');
        }
        V.setProgressBar(p);
    };

    window.onKeyPlugged = function (type) {
        V.onKeyPlugged(type);
    };

    window.onKeyUnplugged = function () {
        V.refreshKeyPanel();
    };

    // The host's names for its key notifications.
    window.isAnyKeyConnect = function () {
        V.probeKeys();
    };

    window.onkeyPlugined = function (index) {
        var item = custom[parseInt(index, 10)];
        if (item && isKeyItem(item)) {
            V.onKeyPlugged(keyIdent(item));
        }
    };

    // For tests and diagnostics: a read-only view of the page's state.
    V.snapshot = function () {
        return { state: $.extend({}, state), fixed: FIXED, custom: custom, queued: queue.length, busy: busy };
    };

    $(function () {
        PageUi.init();
        V.bindControls();
        V.start();
    });
}(jQuery, Velmora));
