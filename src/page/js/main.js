/* Result-list rendering, settings accessors, status texts and the key panel. */
var Velmora = window.Velmora || {};

(function ($, V) {
    'use strict';

    V.OK = 1;
    V.FAILED = 2;
    V.WARNING = 3;

    var IMAGES = {};
    IMAGES[V.OK] = 'images/true.png';
    IMAGES[V.FAILED] = 'images/false.png';
    IMAGES[V.WARNING] = 'images/warn.png';

    var LISTS = {};
    LISTS[V.OK] = 'idCheckOk';
    LISTS[V.FAILED] = 'idCheckFailed';
    LISTS[V.WARNING] = 'idCheckWarning';

    V.COLOR_SAFE = '#007852';
    V.COLOR_REPAIR = '#BF1500';
    V.COLOR_FIXED = '#39CC01';

    var PROGRESS_WIDTH = 306;

    /* ---- settings ---- */

    // load_settings answers in the type of the default; an empty answer means no host.
    V.loadSetting = function (key, def) {
        var value = V.callc('load_settings', key, def);
        return value === undefined || value === null ? def : value;
    };

    V.loadInt = function (key, def) {
        var value = parseInt(V.loadSetting(key, def), 10);
        return isNaN(value) ? def : value;
    };

    V.saveSetting = function (key, value) {
        V.callc('save_settings', key, value);
    };

    /* ---- time texts ---- */

    function pad2(n) {
        return n < 10 ? '0' + n : String(n);
    }

    V.dateText = function (d) {
        return d.toString();
    };

    V.localTimeText = function (d) {
        return d.getFullYear() + '-' + pad2(d.getMonth() + 1) + '-' + pad2(d.getDate()) + ' ' +
            pad2(d.getHours()) + ':' + pad2(d.getMinutes()) + ':' + pad2(d.getSeconds());
    };

    /* ---- status line, result text, progress ---- */

    V.notify = function (text) {
        $('#idNotify').text(text);
    };

    V.setResult = function (text, color) {
        $('#idResult').text(text).css('color', color || '');
    };

    V.setProgressBar = function (percent) {
        var p = Number(percent);
        if (isNaN(p)) {
            p = 0;
        }
        p = Math.max(0, Math.min(100, p));
        $('#idProgressBar').css('width', Math.round(p * PROGRESS_WIDTH / 100) + 'px');
    };

    V.setLastCheck = function (d) {
        $('#idLastCheck').text('上次检测时间：' + V.localTimeText(d));
    };

    V.setConnection = function (online) {
        $('#idNetImage').attr('src', online ? 'images/anquan.png' : 'images/anquan1.png');
        $('#idNetText').text(online ? '已联网' : '未联网');
    };

    /* ---- result lists ---- */

    function detailRowsOf(id) {
        return $('#idLists tr.detail').filter(function () {
            return $(this).attr('data-owner') === id;
        });
    }

    V.removeRow = function (id) {
        var el = document.getElementById(id);
        if (el) {
            $(el).remove();
        }
        detailRowsOf(id).remove();
    };

    V.updateCounts = function () {
        var kinds = [['Ok', V.OK], ['Failed', V.FAILED], ['Warning', V.WARNING]];
        var i, n;
        for (i = 0; i < kinds.length; i++) {
            n = $('#' + LISTS[kinds[i][1]] + ' tr.item').length;
            $('#idCount' + kinds[i][0]).text('(' + n + ')');
            // An empty list shows no header (before the first check, not even the Ok one).
            $('#idHead' + kinds[i][0]).toggle(n > 0);
        }
    };

    V.clearLists = function () {
        $('#idCheckOk tbody, #idCheckFailed tbody, #idCheckWarning tbody').empty();
        V.updateCounts();
    };

    // row: id, cls (list), image (class whose picture is shown), name, text, op, onOp, details
    V.addRow = function (row) {
        V.removeRow(row.id);
        var $tr = $('<tr class="item"></tr>').attr('id', row.id);
        $('<td class="icon"></td>').append($('<img alt="">').attr('src', IMAGES[row.image || row.cls])).appendTo($tr);
        $('<td class="name"></td>').text(row.name).appendTo($tr);
        $('<td class="text"></td>').text(row.text || '').appendTo($tr);
        var $op = $('<td class="op"></td>').appendTo($tr);
        if (row.op) {
            $('<a href="javascript:;" class="op-link"></a>').text(row.op).on('click', function () {
                if (row.onOp) {
                    row.onOp();
                }
            }).appendTo($op);
        }
        var details = row.details && row.details.length ? row.details : null;
        if (details) {
            $('<a href="javascript:;" class="detail-link">详细</a>').on('click', function () {
                detailRowsOf(row.id).toggle();
            }).appendTo($op);
        }
        var $body = $('#' + LISTS[row.cls] + ' tbody');
        $body.append($tr);
        if (details) {
            var i, $d;
            for (i = 0; i < details.length; i++) {
                if (!details[i] || typeof details[i] !== 'object') {
                    continue;
                }
                $d = $('<tr class="detail"></tr>').attr('data-owner', row.id).hide();
                $('<td class="icon"></td>').appendTo($d);
                $('<td class="detail-key"></td>').text(String(details[i].key)).appendTo($d);
                $('<td colspan="2" class="detail-value"></td>').text(String(details[i].value)).appendTo($d);
                $body.append($d);
            }
        }
        V.updateCounts();
    };

    // Replaces the row's links with "正在…" plus one to three dots, every 500 ms.
    // Returns the function that stops it.
    V.animateRow = function (id, text) {
        var el = document.getElementById(id);
        if (!el) {
            return function () {};
        }
        var $cell = $(el).find('td.op');
        $cell.find('a').hide();
        var $busy = $('<span class="busy"></span>').appendTo($cell);
        var dots = 1;
        $busy.text(text + '.');
        var timer = window.setInterval(function () {
            dots = dots % 3 + 1;
            $busy.text(text + '...'.substring(0, dots));
        }, 500);
        return function () {
            window.clearInterval(timer);
            $busy.remove();
        };
    };

    /* ---- key panel ---- */

    V.showKeyMessage = function (text, offerInstall) {
        $('#idKeyMessage').text(text).show();
        $('#idKeyInfo').hide();
        $('#idBtnKeyInstall').toggle(!!offerInstall);
    };

    // rows: list of [label, value]
    V.showKeyInfo = function (title, rows, message) {
        var $body = $('#idKeyTable tbody').empty();
        var i, $tr;
        for (i = 0; i < rows.length; i++) {
            $tr = $('<tr></tr>');
            $('<td class="key-label"></td>').text(rows[i][0]).appendTo($tr);
            $('<td class="key-value"></td>').text(rows[i][1]).appendTo($tr);
            $body.append($tr);
        }
        $('#idKeyTitle').text(title);
        $('#idKeyInfo').show();
        $('#idBtnKeyInstall').hide();
        if (message) {
            $('#idKeyMessage').text(message).show();
        } else {
            $('#idKeyMessage').hide();
        }
    };

    V.showKeyModel = function (text) {
        $('#idKeyModel').text(text);
    };

    /* ---- notices ---- */

    V.showNotices = function (snippets) {
        var $list = $('#idNoticeList').empty();
        var i, shown = 0;
        for (i = 0; i < snippets.length; i++) {
            if (typeof snippets[i] === 'string' && snippets[i]) {
                $('<li class="notice"></li>').html(V.sanitizeNotice(snippets[i])).appendTo($list);
                shown++;
            }
        }
        if (!shown) {
            $list.append('<li class="empty">暂无公告</li>');
        }
    };
}(jQuery, Velmora));
