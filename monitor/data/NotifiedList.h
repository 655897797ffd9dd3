// The record indexes of documents reported in the MessageLog since the mailer was last
// started: one slot per table slot, kEmpty marking a free slot. Taking a slot is one atomic
// step; emptying the list after the mailer started does not interleave with it.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace sentorix
{

class NotifiedList
{
public:
    static constexpr int kEmpty = 9999;

    explicit NotifiedList(int slots);

    void clear();
    // Puts the index into the first empty slot; false (index dropped) when none is empty.
    bool add(int recordIndex);
    // Visits the slots in order; `consume(index)` returns true to empty that slot.
    void consume(const std::function<bool(int recordIndex)>& take);
    int size() const { return m_size; }
    int at(int slot) const;

private:
    int m_size;
    std::vector<int> m_slots;
    mutable std::mutex m_mutex; // add(), consume() and at() never interleave
};

} // namespace sentorix
