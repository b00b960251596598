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
    // lists that are meant to scroll.
    function blockWheel(e) {
        if (!$(e.target).closest('.scrollbox').length) {
            e.preventDefault();
        }
    }

    // Some engines make document-level wheel listeners passive unless told otherwise, and
    // a passive listener cannot cancel the scroll.
    var passiveOption = false;
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

    function listenActively(type, handler) {
        document.addEventListener(type, handler, passiveOption ? { passive: false } : false);
    }

    function init() {
        $('#idTabs').on('click', '.tab', function () {
            showTab($(this).attr('data-view'));
        });
        $(document).on('click', '[data-close]', function () {
            closeDialog($(this).attr('data-close'));
        });
        listenActively('wheel', blockWheel);
        listenActively('mousewheel', blockWheel);
        listenActively('DOMMouseScroll', blockWheel);
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
