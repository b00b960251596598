/* The page's window.external in a browser, served by the developer host before the page's own
   scripts. callc is a synchronous request that may come back with a step for the page to perform
   (a page function that native code calls while the command runs, a message) before its answer;
   asyncallc and asyncalld return once the command is on its way, and their callbacks arrive, like
   every other call from a worker, through the poll, which carries the page's answers back. */
(function (window) {
    'use strict';

    var pageId = String(new Date().getTime()) + '-' + String(Math.random()).slice(2);
    var callbacks = {};
    var nextCallback = 0;
    var UNDEFINED = { $: 'undefined' };
    // What went wrong in a request of native code (a page function that threw, say), for whoever
    // looks: the developer in the console, a test.
    var state = { pageId: pageId, faults: [] };

    function send(route, body, async, done) {
        var request = new window.XMLHttpRequest();
        request.open('POST', '~host/' + route, async);
        request.setRequestHeader('Content-Type', 'application/json');
        if (async) {
            request.onreadystatechange = function () {
                if (request.readyState === 4) {
                    done(request.status === 200 ? request.responseText : null);
                }
            };
        }
        request.send(JSON.stringify(body));
        if (!async) {
            return request.status === 200 ? JSON.parse(request.responseText) : null;
        }
        return null;
    }

    // Page values on the wire: JSON, with undefined and objects (which cannot cross) marked.
    function encode(value) {
        if (value === undefined) {
            return UNDEFINED;
        }
        if (value !== null && (typeof value === 'object' || typeof value === 'function')) {
            return { $: 'object' };
        }
        if (typeof value === 'number' && !isFinite(value)) {
            return null;
        }
        return value;
    }

    function decode(value) {
        if (value !== null && typeof value === 'object') {
            return undefined;
        }
        return value;
    }

    function decodeAll(list) {
        var out = [];
        for (var i = 0; list && i < list.length; i++) {
            out.push(decode(list[i]));
        }
        return out;
    }

    function report(what, e) {
        state.faults.push(what + ': ' + (e && e.message ? e.message : e));
    }

    function messageText(op) {
        var text = op.instruction ? op.instruction + '\n\n' : '';
        return text + op.content;
    }

    // One request of native code, performed in the page: {ok, result}.
    function perform(op) {
        var f;
        try {
            switch (op.op) {
                case 'call':
                    f = window[op.name];
                    if (typeof f !== 'function') {
                        return { ok: false };
                    }
                    return { ok: true, result: encode(f.apply(window, decodeAll(op.args))) };
                case 'callback':
                    f = callbacks[op.callback];
                    delete callbacks[op.callback];
                    if (typeof f !== 'function') {
                        return { ok: false };
                    }
                    return { ok: true, result: encode(f.call(f, decodeAll(op.args)[0])) };
                case 'set':
                    window[op.name] = decode(op.value);
                    return { ok: true };
                case 'get':
                    return { ok: op.name in window, result: encode(window[op.name]) };
                case 'exec':
                    // As the embedded browser's execScript: native code's text runs in the page's
                    // global scope.
                    // eslint-disable-next-line no-eval
                    (0, window.eval)(op.script);
                    return { ok: true };
                case 'message':
                    if (op.ask) {
                        return { ok: true, result: window.confirm(messageText(op)) ? 6 : 7 };
                    }
                    window.alert(messageText(op));
                    return { ok: true, result: 1 };
                default:
                    return { ok: false };
            }
        } catch (e) {
            report(op.op + ' ' + (op.name || ''), e);
            return { ok: false };
        }
    }

    function commandArgs(name, a1, a2, a3, a4) {
        return [encode(name), encode(a1), encode(a2), encode(a3), encode(a4)];
    }

    function callc(name, a1, a2, a3, a4) {
        var step = send('callc', { args: commandArgs(name, a1, a2, a3, a4) }, false);
        while (step && step.op) {
            step = send('step', perform(step.op), false);
        }
        if (!step || !step.done) {
            throw new Error('the host did not answer ' + name);
        }
        return decode(step.result);
    }

    function dispatch(route, callback, name, a1, a2, a3, a4) {
        var body = { args: commandArgs(name, a1, a2, a3, a4) };
        if (typeof callback === 'function') {
            body.callback = pageId + ':' + nextCallback++;
            callbacks[body.callback] = callback;
        }
        if (send(route, body, false) === null) {
            delete callbacks[body.callback];
            throw new Error('the host did not take ' + name);
        }
    }

    // What workers ask of the page, taken in turns; each turn brings the previous turn's answers.
    function poll(answers) {
        send('poll', { page: pageId, answers: answers }, true, function (text) {
            if (text === null) {
                // The host is gone or restarting: try again a little later, answers kept.
                window.setTimeout(function () {
                    poll(answers);
                }, 1000);
                return;
            }
            var requests = JSON.parse(text);
            var next = [];
            for (var i = 0; i < requests.length; i++) {
                var answer = perform(requests[i]);
                answer.id = requests[i].id;
                next.push(answer);
            }
            poll(next);
        });
    }

    var external = {
        callc: callc,
        asyncallc: function (callback, name, a1, a2, a3, a4) {
            dispatch('asyncallc', callback, name, a1, a2, a3, a4);
        },
        asyncalld: function (callback, name, a1, a2, a3, a4) {
            dispatch('asyncalld', callback, name, a1, a2, a3, a4);
        },
        // No COM object crosses the wire.
        getCom: function () {
            return undefined;
        }
    };
    if (Object.defineProperty) {
        Object.defineProperty(window, 'external', { value: external, configurable: true, writable: true });
    } else {
        window.external = external;
    }
    window.__velmoraHost = state;
    poll([]);
})(window);
