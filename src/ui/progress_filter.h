#pragma once
// Thins out progress reports before they reach the page: a value goes out when it moved by more than
// one point from the last one sent, or when it is 0 (a new start). A failure (negative) after real
// progress is shown as finished.

namespace Velmora::UI {

class ProgressFilter {
public:
    // True when `percent` is to be sent; `*sent` is the value to send.
    bool Next(int percent, int* sent);
    int Last() const { return last_; }

private:
    int last_ = 0;
};

} // namespace Velmora::UI
