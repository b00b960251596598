// Window chores of the captionless window: sizing to the content, centring, and the actions of the
// page's chrome elements (move, maximise, restore, minimise, menu, quit).
#include "ui/bs_dialog_win.h"

#include "common/last_error_win.h"
#include "ui/host_rules.h"

#include <algorithm>

namespace Velmora::UI {

HRESULT CBSDialog::ResizeWindow(int width, int height)
{
    if (width <= 0)
        width = contentWidth_;
    if (height <= 0)
        height = contentHeight_;
    if (width <= 0 || height <= 0)
        return E_FAIL; // no content size measured: the size is left alone
    if (params_.maxWidth > 0)
        width = std::min(width, params_.maxWidth);
    if (params_.maxHeight > 0)
        height = std::min(height, params_.maxHeight);
    if (!::SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE))
        return LastErrorHresult();
    return S_OK;
}

void CBSDialog::CentreOnScreen()
{
    RECT rc;
    if (!::GetWindowRect(window_, &rc))
        return;
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    ::SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CBSDialog::RunElementAction(int action, const std::wstring&)
{
    const bool captioned = params_.framed != FALSE;
    switch (static_cast<ElementAction>(action)) {
    case ElementAction::MoveWindow: {
        POINT pt;
        ::GetCursorPos(&pt);
        ::PostMessageW(window_, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(pt.x, pt.y));
        break;
    }
    case ElementAction::Quit:
        ::PostQuitMessage(0);
        break;
    case ElementAction::Maximize:
        if (captioned) {
            ::ShowWindow(window_, SW_MAXIMIZE);
        } else {
            RECT work = {};
            ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
            ::SetWindowPos(window_, nullptr, 0, 0, ::GetSystemMetrics(SM_CXSCREEN), work.bottom,
                           SWP_NOZORDER);
        }
        break;
    case ElementAction::Restore:
        if (captioned) {
            ::ShowWindow(window_, SW_RESTORE);
        } else if (contentWidth_ > 0 && contentHeight_ > 0) {
            const int x = (::GetSystemMetrics(SM_CXSCREEN) - contentWidth_) / 2;
            const int y = (::GetSystemMetrics(SM_CYSCREEN) - contentHeight_) / 2;
            ::SetWindowPos(window_, nullptr, x, y, contentWidth_, contentHeight_, SWP_NOZORDER);
        }
        break;
    case ElementAction::Minimize:
        ::ShowWindow(window_, SW_MINIMIZE);
        break;
    case ElementAction::Menu: {
        HMENU menu = params_.menuProvider ? params_.menuProvider(this) : params_.menu;
        if (menu) {
            POINT pt;
            ::GetCursorPos(&pt);
            ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN, pt.x, pt.y, 0, window_, nullptr);
        }
        break;
    }
    case ElementAction::Close: // Cancel does nothing in this window
    case ElementAction::None:
    default:
        break;
    }
}

} // namespace Velmora::UI
