// A hash index of table positions: open addressing over (hash, position)
// pairs, with no keys of its own. A lookup visits every position stored
// under a hash, and the caller confirms each against the record, so a
// collision can never decide a rule. Several positions may share a hash
// (repeated ids or names in a damaged file).
#ifndef KVI_STORAGE_POSITION_INDEX_H
#define KVI_STORAGE_POSITION_INDEX_H

#include <cstdint>
#include <new>

namespace kvi {

class PositionIndex {
public:
    PositionIndex() = default;
    ~PositionIndex() { delete[] slots_; }
    PositionIndex(const PositionIndex&) = delete;
    PositionIndex& operator=(const PositionIndex&) = delete;

    // Empties the index with room for n positions; false when memory ran
    // out (the index is then empty and unusable).
    bool Reset(uint32_t n) {
        uint32_t capacity = 16;
        while (capacity < 2 * n + 2 && capacity < 0x80000000u) capacity <<= 1;
        if (capacity != capacity_) {
            delete[] slots_;
            slots_ = new (std::nothrow) Slot[capacity];
            capacity_ = slots_ ? capacity : 0;
        }
        for (uint32_t i = 0; i < capacity_; ++i) slots_[i].position = kEmpty;
        used_ = 0;
        return slots_ != nullptr;
    }

    // False when the index is full beyond its load limit; the caller then
    // rebuilds it with room for more.
    bool Insert(uint32_t hash, uint32_t position) {
        if (!slots_ || 2 * (used_ + 1) > capacity_) return false;
        uint32_t i = hash & (capacity_ - 1);
        while (slots_[i].position != kEmpty && slots_[i].position != kErased) i = (i + 1) & (capacity_ - 1);
        if (slots_[i].position == kEmpty) ++used_;
        slots_[i].hash = hash;
        slots_[i].position = position;
        return true;
    }

    void Erase(uint32_t hash, uint32_t position) {
        if (!slots_) return;
        for (uint32_t i = hash & (capacity_ - 1); slots_[i].position != kEmpty; i = (i + 1) & (capacity_ - 1)) {
            if (slots_[i].hash == hash && slots_[i].position == position) {
                slots_[i].position = kErased;
                return;
            }
        }
    }

    // Calls visit(position) for every position stored under hash.
    template <class Visit>
    void ForEach(uint32_t hash, Visit visit) const {
        if (!slots_) return;
        for (uint32_t i = hash & (capacity_ - 1); slots_[i].position != kEmpty; i = (i + 1) & (capacity_ - 1))
            if (slots_[i].hash == hash && slots_[i].position != kErased) visit(slots_[i].position);
    }

private:
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
    static constexpr uint32_t kErased = 0xFFFFFFFEu;
    struct Slot {
        uint32_t hash;
        uint32_t position;
    };
    Slot* slots_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t used_ = 0;  // slots not empty (erased ones included)
};

// Spreads an id over the bits the index uses.
inline uint32_t IdHash(uint32_t id) {
    id ^= id >> 16;
    id *= 0x7feb352du;
    id ^= id >> 15;
    return id;
}

}  // namespace kvi

#endif
