#include "common/option_table.h"

namespace Velmora {

int OptionTable::Get(int option) const
{
    std::lock_guard guard(lock_);
    const auto it = values_.find(option);
    return it == values_.end() ? 0 : it->second;
}

void OptionTable::Set(int option, int value)
{
    std::lock_guard guard(lock_);
    values_[option] = value;
}

OptionTable& Options()
{
    static OptionTable table;
    return table;
}

} // namespace Velmora
