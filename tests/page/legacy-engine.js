// Turns Chromium into an engine of the IE8 era before the page's scripts run: every API that
// IE8's document mode lacks is deleted from the window and the prototypes, and the few that
// IE8 offers instead are put in their place, the way IE8 behaves:
//   - attachEvent / detachEvent with IE's event object (srcElement, returnValue,
//     cancelBubble; no target, preventDefault or stopPropagation), handlers called on window;
//   - currentStyle in place of getComputedStyle;
//   - scripts that never fire onload but report readyState through onreadystatechange;
//   - Object.defineProperty and getOwnPropertyDescriptor for DOM objects only.
// The "ie7" profile also takes JSON away, as IE7's document mode has none.
// Injected after the fake host, which keeps for itself what it needs.
/* eslint-disable */
(function (profile) {
  'use strict';
  var defineProperty = Object.defineProperty;
  var describe = Object.getOwnPropertyDescriptor;
  var getPrototypeOf = Object.getPrototypeOf;
  var addListener = EventTarget.prototype.addEventListener;
  var removeListener = EventTarget.prototype.removeEventListener;
  var computedStyle = window.getComputedStyle;
  var NodeType = window.Node;
  var ScriptElement = window.HTMLScriptElement;

  function remove(owner, names) {
    for (var i = 0; i < names.length; i++) {
      // Accessors and methods may sit anywhere along the prototype chain.
      for (var o = owner; o; o = getPrototypeOf(o)) {
        if (Object.prototype.hasOwnProperty.call(o, names[i])) delete o[names[i]];
      }
      if (names[i] in owner) throw new Error('legacy profile could not remove ' + names[i]);
    }
  }

  function put(owner, name, value) {
    defineProperty(owner, name, { value: value, writable: true, configurable: true, enumerable: false });
  }

  function isDom(o) {
    return o === window || o instanceof NodeType || o === NodeType.prototype || o === Element.prototype;
  }

  /* ---- IE's event model ---- */

  var current = null;                 // the IE event of the handler that runs
  var wrappers = new WeakMap();       // native event -> IE event
  var listeners = new WeakMap();      // target -> { type: Map(handler -> listener) }

  function ieEvent(e) {
    var w = wrappers.get(e);
    if (w) return w;
    var mouseButton = /^mouse(down|up|move)$/.test(e.type);
    w = {
      type: e.type,
      srcElement: e.target,
      keyCode: e.keyCode || 0,
      altKey: !!e.altKey,
      ctrlKey: !!e.ctrlKey,
      shiftKey: !!e.shiftKey,
      clientX: e.clientX,
      clientY: e.clientY,
      screenX: e.screenX,
      screenY: e.screenY,
      offsetX: e.offsetX,
      offsetY: e.offsetY,
      // IE numbers buttons 1 left, 2 right, 4 middle, and only for down, up and move.
      button: mouseButton ? ({ 0: 1, 1: 4, 2: 2 })[e.button] || 0 : 0,
      wheelDelta: e.wheelDelta,
      fromElement: e.type === 'mouseover' ? e.relatedTarget : e.target,
      toElement: e.type === 'mouseout' ? e.relatedTarget : e.target
    };
    defineProperty(w, 'returnValue', {
      get: function () { return !e.defaultPrevented; },
      set: function (v) { if (v === false) e.preventDefault(); }
    });
    defineProperty(w, 'cancelBubble', {
      get: function () { return e.cancelBubble; },
      set: function (v) { if (v) e.stopPropagation(); }
    });
    wrappers.set(e, w);
    return w;
  }

  var nativeEvent = describe(window, 'event') || describe(Window.prototype, 'event');
  defineProperty(window, 'event', {
    configurable: true,
    get: function () {
      if (current) return current;
      var e = nativeEvent && nativeEvent.get ? nativeEvent.get.call(window) : undefined;
      return e ? ieEvent(e) : undefined;
    }
  });

  function handlersOf(target, type) {
    var byType = listeners.get(target);
    if (!byType) listeners.set(target, (byType = {}));
    return byType[type] || (byType[type] = new Map());
  }

  function attachEvent(name, handler) {
    if (typeof name !== 'string' || name.slice(0, 2) !== 'on' || typeof handler !== 'function') return false;
    var type = name.slice(2);
    var map = handlersOf(this, type);
    if (map.has(handler)) return true;
    var listener = function (e) {
      var outer = current;
      current = ieEvent(e);
      try {
        handler.call(window, current);
      } finally {
        current = outer;
      }
    };
    map.set(handler, listener);
    // IE's handlers can always cancel; Chromium would make document wheel listeners passive.
    addListener.call(this, type, listener, { passive: false });
    return true;
  }

  function detachEvent(name, handler) {
    if (typeof name !== 'string' || name.slice(0, 2) !== 'on') return;
    var type = name.slice(2);
    var map = handlersOf(this, type);
    var listener = map.get(handler);
    if (listener) {
      map.delete(handler);
      removeListener.call(this, type, listener, false);
    }
  }

  put(window, 'attachEvent', attachEvent);
  put(window, 'detachEvent', detachEvent);
  put(Document.prototype, 'attachEvent', attachEvent);
  put(Document.prototype, 'detachEvent', detachEvent);
  put(Element.prototype, 'attachEvent', attachEvent);
  put(Element.prototype, 'detachEvent', detachEvent);

  /* ---- currentStyle ---- */

  defineProperty(Element.prototype, 'currentStyle', {
    configurable: true,
    get: function () { return computedStyle.call(window, this); }
  });

  /* ---- scripts: readyState and onreadystatechange, never onload ---- */

  var scriptStates = new WeakMap();
  var scriptOnload = new WeakMap();
  defineProperty(ScriptElement.prototype, 'readyState', {
    configurable: true,
    get: function () { return scriptStates.get(this) || 'uninitialized'; }
  });
  defineProperty(ScriptElement.prototype, 'onload', {
    configurable: true,
    get: function () { return scriptOnload.has(this) ? scriptOnload.get(this) : null; },
    set: function (v) { scriptOnload.set(this, v); }
  });
  function scriptArrived(e) {
    var script = e.target;
    if (!(script instanceof ScriptElement)) return;
    // IE8 reports a script that failed to load as loaded, too.
    scriptStates.set(script, 'loaded');
    if (typeof script.onreadystatechange === 'function') {
      var outer = current;
      current = ieEvent(e);
      try {
        script.onreadystatechange.call(script, current);
      } finally {
        current = outer;
      }
    }
  }
  addListener.call(document, 'load', scriptArrived, true);
  addListener.call(document, 'error', scriptArrived, true);

  /* ---- ES5 library functions IE8 lacks ---- */

  remove(Array.prototype, ['forEach', 'indexOf', 'lastIndexOf', 'map', 'filter', 'some', 'every',
    'reduce', 'reduceRight']);
  remove(Array, ['isArray']);
  remove(Object, ['keys', 'create', 'getPrototypeOf', 'getOwnPropertyNames', 'defineProperties', 'freeze',
    'seal', 'preventExtensions', 'isFrozen', 'isSealed', 'isExtensible']);
  remove(Function.prototype, ['bind']);
  remove(String.prototype, ['trim', 'trimLeft', 'trimRight', 'trimStart', 'trimEnd']);
  remove(Date, ['now']);
  remove(Date.prototype, ['toISOString']);

  // IE8 defines properties on DOM objects only.
  put(Object, 'defineProperty', function (o, name, desc) {
    if (!isDom(o)) throw new TypeError('Object.defineProperty: object expected to be a DOM object');
    return defineProperty(o, name, desc);
  });
  put(Object, 'getOwnPropertyDescriptor', function (o, name) {
    if (!isDom(o)) throw new TypeError('Object.getOwnPropertyDescriptor: object expected to be a DOM object');
    return describe(o, name);
  });

  /* ---- DOM that IE8 lacks ---- */

  remove(window, ['getComputedStyle', 'addEventListener', 'removeEventListener', 'dispatchEvent',
    'requestAnimationFrame', 'cancelAnimationFrame', 'matchMedia', 'MutationObserver', 'CustomEvent',
    'atob', 'btoa', 'innerWidth', 'innerHeight', 'pageXOffset', 'pageYOffset', 'scrollX', 'scrollY',
    'Node', 'EventTarget']);
  remove(NodeType.prototype, ['textContent', 'compareDocumentPosition']);
  remove(Element.prototype, ['getElementsByClassName', 'classList', 'matches', 'closest', 'firstElementChild',
    'lastElementChild', 'nextElementSibling', 'previousElementSibling', 'childElementCount', 'remove',
    'append', 'prepend', 'before', 'after', 'replaceWith']);
  remove(document, ['getElementsByClassName', 'head', 'defaultView', 'createEvent', 'addEventListener',
    'removeEventListener', 'dispatchEvent']);
  remove(HTMLElement.prototype, ['dataset']);

  if (profile === 'ie7') remove(window, ['JSON']);
})(__PROFILE__);
