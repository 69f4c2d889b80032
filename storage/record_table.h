// The one container behind every collection of the library: a growable
// table of 32-bit-sized entries (record pointers or position numbers).
// Books use it densely (positions 0 .. Count()-1, appended and removed
// with shifting); list snapshots use it sparsely with their own last index.
//
// Growth is geometric, so that a table of n entries is built with about
// log n copies: a growth at least doubles the capacity, and a request
// beyond that is rounded up to a multiple of the step. Entries beyond those
// in use are not cleared (every one is set before it is read). A failed
// allocation leaves the table as it was and is reported as false.
#ifndef KVI_STORAGE_RECORD_TABLE_H
#define KVI_STORAGE_RECORD_TABLE_H

#include <cstdint>
#include <cstring>
#include <new>

namespace kvi {

constexpr uint32_t kNotFound = 0xFFFFFFFFu;

// Fixed-size base: slots and capacity only. Count() is the capacity and it
// never grows; every table the library makes is a SlotVector.
template <class T>
class FixedSlots {
public:
    explicit FixedSlots(uint32_t capacity)
        : slots_(capacity ? new (std::nothrow) T[capacity] : nullptr),
          capacity_(slots_ ? capacity : 0) {}
    virtual ~FixedSlots() { delete[] slots_; }
    FixedSlots(const FixedSlots&) = delete;
    FixedSlots& operator=(const FixedSlots&) = delete;

    virtual uint32_t Count() const { return capacity_; }
    virtual uint32_t GrowStep() const { return 0; }

    uint32_t Capacity() const { return capacity_; }

protected:
    T* slots_;
    uint32_t capacity_;
};

template <class T>
class SlotVector : public FixedSlots<T> {
public:
    SlotVector(uint32_t capacity, uint32_t growStep)
        : FixedSlots<T>(capacity), count_(0), growStep_(growStep) {}

    uint32_t Count() const override { return count_; }
    uint32_t GrowStep() const override { return growStep_; }
    // Hooks after a growth (the new entries) and after a removal (the
    // vacated entry); nothing to do in the tables the library makes.
    virtual void OnSlotsChanged(uint32_t /*first*/, uint32_t /*end*/) {}
    virtual void OnSlotChanged(uint32_t /*position*/) {}
    virtual uint32_t Find(const T& value) const {
        for (uint32_t i = 0; i < count_; ++i)
            if (this->slots_[i] == value) return i;
        return kNotFound;
    }

    // Makes room for `requested` entries. False only when memory ran out.
    bool Grow(uint32_t requested) {
        const uint32_t step = GrowStep();
        if (requested <= this->capacity_ || step == 0) return requested <= this->capacity_;
        uint32_t extra = requested - this->capacity_;
        if (extra % step != 0) extra = ((extra + step) / step) * step;
        const uint32_t oldCapacity = this->capacity_;
        if (extra < oldCapacity && oldCapacity <= 0x7FFFFFFFu) extra = oldCapacity;
        if (extra > 0xFFFFFFFFu - oldCapacity) return false;
        T* grown = new (std::nothrow) T[oldCapacity + extra];
        if (!grown) return false;
        if (oldCapacity) std::memcpy(static_cast<void*>(grown), this->slots_, sizeof(T) * oldCapacity);
        delete[] this->slots_;
        this->slots_ = grown;
        this->capacity_ = oldCapacity + extra;
        OnSlotsChanged(oldCapacity, this->capacity_);
        return true;
    }

    T& Slot(uint32_t i) { return this->slots_[i]; }
    const T& Slot(uint32_t i) const { return this->slots_[i]; }
    void SetCount(uint32_t count) { count_ = count; }

private:
    uint32_t count_;
    uint32_t growStep_;
};

template <class T>
class RecordTable {
public:
    // Positions 0 .. highest get entries at once.
    RecordTable(int32_t highest, uint32_t growStep)
        : baseIndex_(0), storage_(static_cast<uint32_t>(highest - 0 + 1), growStep) {}

    // False when the first allocation failed: the table is unusable.
    bool Ok() const { return storage_.Capacity() != 0; }

    uint32_t Count() const { return storage_.Count(); }
    uint32_t Capacity() const { return storage_.Capacity(); }
    // Raised by every Append and RemoveAt, so that an index built over the
    // table notices a change made past it.
    uint32_t Generation() const { return generation_; }

    // Afterwards positions baseIndex .. n-1 have entries.
    bool Ensure(int32_t n) {
        if (n < baseIndex_) return true;
        const uint32_t wanted = static_cast<uint32_t>(n - baseIndex_);
        if (wanted <= storage_.Capacity()) return true;
        return storage_.Grow(wanted);
    }

    // The entry at a position that Ensure made room for.
    T& At(int32_t position) { return storage_.Slot(static_cast<uint32_t>(position - baseIndex_)); }
    const T& At(int32_t position) const {
        return storage_.Slot(static_cast<uint32_t>(position - baseIndex_));
    }

    // The value becomes position Count(). False (nothing changed) when the
    // table could not grow.
    bool Append(const T& value) {
        const uint32_t count = storage_.Count() + 1;
        if (count > storage_.Capacity() && !storage_.Grow(count)) return false;
        storage_.SetCount(count);
        storage_.Slot(count - 1) = value;
        ++generation_;
        return true;
    }

    // Appends n values, value(0) .. value(n-1), in one step. False (nothing
    // changed) when the table could not grow.
    template <class Value>
    bool AppendEach(uint32_t n, Value value) {
        const uint32_t count = storage_.Count();
        if (n == 0) return true;
        if (n > 0xFFFFFFFFu - count) return false;
        if (count + n > storage_.Capacity() && !storage_.Grow(count + n)) return false;
        T* const slots = &storage_.Slot(count);
        for (uint32_t i = 0; i < n; ++i) slots[i] = value(i);
        storage_.SetCount(count + n);
        ++generation_;
        return true;
    }

    uint32_t IndexOf(const T& value) const { return storage_.Find(value); }

    // Later entries move down by one. The table frees nothing.
    void RemoveAt(uint32_t p) {
        const uint32_t count = storage_.Count();
        if (p >= storage_.Capacity() || p >= count) return;
        for (uint32_t i = p; i + 1 < count; ++i) storage_.Slot(i) = storage_.Slot(i + 1);
        storage_.SetCount(count - 1);
        ++generation_;
        storage_.OnSlotsChanged(count - 1, count);
    }

protected:
    // Keeps the first `count` entries (a compaction by the owner).
    void Truncate(uint32_t count) {
        if (count >= storage_.Count()) return;
        const uint32_t old = storage_.Count();
        storage_.SetCount(count);
        ++generation_;
        storage_.OnSlotsChanged(count, old);
    }

private:
    int32_t baseIndex_;
    SlotVector<T> storage_;
    uint32_t generation_ = 0;
};

// A book's table owns its records: freeing the table frees them.
template <class T>
void FreeRecords(RecordTable<T*>& table) {
    for (uint32_t i = table.Count(); i > 0; --i) delete table.At(static_cast<int32_t>(i - 1));
    while (table.Count() > 0) table.RemoveAt(table.Count() - 1);
}

}  // namespace kvi

#endif
