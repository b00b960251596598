#include "ui/progress_filter.h"

namespace Velmora::UI {

bool ProgressFilter::Next(int percent, int* sent)
{
    int value = percent;
    if (value < 0 && last_ > 0)
        value = 100;
    const int moved = value > last_ ? value - last_ : last_ - value;
    if (value != 0 && moved <= 1)
        return false;
    last_ = value;
    if (sent)
        *sent = value;
    return true;
}

} // namespace Velmora::UI
