#pragma once
// The program's two message functions. Every message goes through one presenter, so that tests (and
// a run without a person) can answer them; the system presenter shows a task dialog where the system
// has one and a message box otherwise.

#include <windows.h>

#include <string>

namespace Velmora::UI {

// A text given literally, or as a string-resource number of the executable.
struct MessageText {
    MessageText() = default;
    MessageText(const wchar_t* literal) : text(literal ? literal : L"") {}
    MessageText(std::wstring t) : text(std::move(t)) {}
    MessageText(UINT resource) : resourceId(resource) {}
    std::wstring text;
    UINT resourceId = 0;

    std::wstring Resolve() const;
};

enum MessageIcon : int {
    kIconNone = 0,
    kIconInformation = 1,
    kIconWarning = 2,
    kIconQuestion = 3,
    kIconShield = 4,
    kIconError = 5,
};

inline constexpr int kAnswerYes = IDYES; // 6
inline constexpr int kAnswerNo = IDNO;   // 7

// What is to be shown, with every text already resolved.
struct MessageRequest {
    bool askYesNo = false;
    std::wstring content;
    std::wstring instruction;
    std::wstring title;
    int icon = kIconNone;  // ShowMessage only
    std::wstring yesLabel; // AskYesNo only
    std::wstring noLabel;  // AskYesNo only
    HWND owner = nullptr;  // never none: defaults to the main window
};

class IMessagePresenter {
public:
    virtual ~IMessagePresenter() = default;
    // Returns the button chosen (6 yes, 7 no for AskYesNo).
    virtual int Present(const MessageRequest& request) = 0;
};

// Replaces the presenter for the whole process; none restores the system one. Not owned.
void SetMessagePresenter(IMessagePresenter* presenter);
// `presenter` for as long as it lives, then the system one again.
class ScopedMessagePresenter {
public:
    explicit ScopedMessagePresenter(IMessagePresenter* presenter) { SetMessagePresenter(presenter); }
    ScopedMessagePresenter(const ScopedMessagePresenter&) = delete;
    ScopedMessagePresenter& operator=(const ScopedMessagePresenter&) = delete;
    ~ScopedMessagePresenter() { SetMessagePresenter(nullptr); }
};

// The owner used when a caller gives none.
void SetMessageMainWindow(HWND window);

int ShowMessage(const MessageText& content, const MessageText& instruction, const MessageText& title,
                int icon, HWND owner);
int AskYesNo(const MessageText& content, const MessageText& instruction, const MessageText& title,
             const MessageText& yesLabel, const MessageText& noLabel, HWND owner);

} // namespace Velmora::UI
