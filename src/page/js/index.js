/* Tab switching, dialogs and page-wide input behaviour. */
var PageUi = (function ($) {
    'use strict';

    function showTab(view) {
        var $tab = $('#idTab_' + view);
        if (!$tab.length) {
            return false;
        }
        $('#idTabs .tab').removeClass('active');
        $tab.addClass('active');
        $('.view').removeClass('active');
        $('#idView_' + view).addClass('active');
        return true;
    }

    function currentTab() {
        return $('#idTabs .tab.active').attr('data-view');
    }

    function openDialog(id) {
        $('.dialog').hide();
        $('#idMask').show();
        $('#' + id).show();
    }

    function closeDialog(id) {
        $('#' + id).hide();
        if (!$('.dialog:visible').length) {
            $('#idMask').hide();
        }
    }

    // The window is a fixed-size dialog: the wheel must not move the page, only the
    // lists that are meant to scroll. Older engines hand the event through window.event,
    // with srcElement and returnValue instead of target and preventDefault.
    function blockWheel(e) {
        e = e || window.event;
        if (!$(e.target || e.srcElement).closest('.scrollbox').length) {
            if (e.preventDefault) {
                e.preventDefault();
            } else {
                e.returnValue = false;
            }
        }
    }

    // Some engines make document-level wheel listeners passive unless told otherwise, and
    // a passive listener cannot cancel the scroll.
    var passiveOption = false;
    if (window.addEventListener) {
        try {
            window.addEventListener('velmora-probe', null, Object.defineProperty({}, 'passive', {
                get: function () {
                    passiveOption = true;
                    return false;
                }
            }));
        } catch (e) {
            passiveOption = false;
        }
    }

    function listenActively(type, handler) {
        if (document.addEventListener) {
            document.addEventListener(type, handler, passiveOption ? { passive: false } : false);
        } else if (document.attachEvent) {
            document.attachEvent('on' + type, handler);
        }
    }

    function init() {
        $('#idTabs').on('click', '.tab', function () {
            showTab($(this).attr('data-view'));
        });
        $(document).on('click', '[data-close]', function () {
            closeDialog($(this).attr('data-close'));
        });
        if (document.addEventListener) {
            listenActively('wheel', blockWheel);
            listenActively('DOMMouseScroll', blockWheel);
        }
        // The only wheel event of the engines without addEventListener.
        listenActively('mousewheel', blockWheel);
        // Keep the host's browser from acting like a browser.
        $(document).on('contextmenu dragstart selectstart', function (e) {
            if (!$(e.target).is('input, select')) {
                e.preventDefault();
            }
        });
        $(document).on('keydown', function (e) {
            // F5 / Ctrl+R would reload the page and lose the running flows.
            if (e.which === 116 || (e.ctrlKey && e.which === 82)) {
                e.preventDefault();
            }
        });
        showTab('check');
    }

    return {
        init: init,
        showTab: showTab,
        currentTab: currentTab,
        openDialog: openDialog,
        closeDialog: closeDialog
    };
}(jQuery));
