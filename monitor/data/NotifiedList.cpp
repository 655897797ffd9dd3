#include "monitor/data/NotifiedList.h"

#include <algorithm>

namespace sentorix
{

NotifiedList::NotifiedList(int slots)
    : m_size(std::max(slots, 0)), m_slots(static_cast<std::size_t>(m_size), kEmpty)
{
}

void NotifiedList::clear()
{
    std::lock_guard lock(m_mutex);
    std::fill(m_slots.begin(), m_slots.end(), kEmpty);
}

bool NotifiedList::add(int recordIndex)
{
    std::lock_guard lock(m_mutex);
    const auto free = std::find(m_slots.begin(), m_slots.end(), kEmpty);
    if (free == m_slots.end())
        return false;
    *free = recordIndex;
    return true;
}

void NotifiedList::consume(const std::function<bool(int recordIndex)>& take)
{
    // The whole pass holds the lock, so an index added meanwhile waits for the pass to end
    // and is kept for the next one. `take` must not call back into this list.
    std::lock_guard lock(m_mutex);
    for (int& slot : m_slots) {
        if (slot != kEmpty && take(slot))
            slot = kEmpty;
    }
}

int NotifiedList::at(int slot) const
{
    std::lock_guard lock(m_mutex);
    if (slot < 0 || slot >= m_size)
        return kEmpty;
    return m_slots[static_cast<std::size_t>(slot)];
}

} // namespace sentorix
