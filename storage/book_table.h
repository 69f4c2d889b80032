// The table of one book section: owns its records, keeps them in file
// order (positions 0 .. Count()-1) and answers the lookups of the book
// through two indexes, by id and by the section's rule key (address and
// type, or name), so that no add, update, get or delete walks the table.
//
// Every lookup returns what a walk in table order would: the first
// matching position, and every candidate is confirmed by the caller's own
// comparison (the index only narrows the search). The indexes are built on
// the first lookup after a load and then kept in step by Add and ReplaceAt;
// a removal shifts positions and so rebuilds them at the next lookup, as
// does any change made through the plain table (noticed by its
// generation). Ids written into records in place need IdsChanged().
//
// Readers need no lock (several threads may look up at once, as they may
// walk a table): the one that builds the indexes claims the build
// atomically, and the others walk the table meanwhile. Changes are made by
// one thread, with no reader at the same time, as for the table itself.
//
// Records loaded from a file live in blocks sized from the section's count
// (Reserve, NewRecord), the rest one allocation each; the table frees both
// kinds (Free, FreeAll), so a record it owns is never deleted elsewhere. A
// freed block is kept for the next table of its kind (see Spares).
#ifndef KVI_STORAGE_BOOK_TABLE_H
#define KVI_STORAGE_BOOK_TABLE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "storage/position_index.h"
#include "storage/record_table.h"

namespace kvi {

// For the tests that compare the indexed lookups with plain walks: false
// makes every lookup of every book table walk the table.
inline bool& IndexedLookups() {
    static bool on = true;
    return on;
}

template <class T, class Traits>
class BookTable : public RecordTable<T*> {
public:
    using Base = RecordTable<T*>;

    BookTable() : Base(100, 50) {}  // capacity 101
    ~BookTable() { FreeAll(); }

    // Room for n more records: one block of records and the table's
    // entries. False when memory ran out (records then come one by one).
    bool Reserve(uint32_t n) {
        if (n == 0) return true;
        if (!Base::Ensure(static_cast<int32_t>(Base::Count() + n > 0x7FFFFFFFu ? 0x7FFFFFFFu : Base::Count() + n)))
            return false;
        if (blockCount_ == kMaxBlocks) return false;
        void* raw = TakeSpare(n);
        if (!raw) {
            if (n > (SIZE_MAX - kBlockHeader) / sizeof(T)) return false;
            raw = ::operator new(kBlockHeader + sizeof(T) * static_cast<size_t>(n), std::nothrow);
            if (!raw) return false;
            std::memcpy(raw, &n, sizeof n);
        }
        blocks_[blockCount_++] = Block{raw, BlockRecords(raw), BlockSize(raw), 0};
        return true;
    }
    // A record for this table, not initialised: from the last block while
    // it has room, else allocated on its own. Null when memory ran out.
    T* NewRecord() {
        if (blockCount_ > 0) {
            Block& b = blocks_[blockCount_ - 1];
            if (b.used < b.size) return b.base + b.used++;
        }
        return new (std::nothrow) T;
    }
    // Frees a record of this table (or one made for it); a record in a
    // block goes with the block.
    void Free(T* record) {
        if (!InBlock(record)) delete record;
    }
    void FreeAll() {
        for (uint32_t i = 0; i < Base::Count(); ++i) Free(Base::At(static_cast<int32_t>(i)));
        Base::Truncate(0);
        for (uint32_t i = 0; i < blockCount_; ++i) KeepSpare(blocks_[i].raw);
        blockCount_ = 0;
        state_.store(kStale, std::memory_order_relaxed);
    }

    // The record becomes position Count(). False (nothing taken) when the
    // table could not grow.
    bool Add(T* record) {
        const bool inStep = InStep();
        if (!Base::Append(record)) return false;
        if (inStep) {
            const uint32_t p = Base::Count() - 1;
            if (IndexOne(*record, p)) synced_ = Base::Generation();
        }
        return true;
    }
    // Puts record at position p and frees the record that was there.
    void ReplaceAt(uint32_t p, T* record) {
        T*& slot = Base::At(static_cast<int32_t>(p));
        T* old = slot;
        if (InStep()) {
            byId_.Erase(IdHash(old->id), p);
            if (Traits::HasKey(*old)) byKey_.Erase(Traits::KeyHash(*old), p);
            slot = record;
            if (!IndexOne(*record, p)) state_.store(kStale, std::memory_order_relaxed);
        } else {
            slot = record;
        }
        Free(old);
    }
    // Removes and frees the record at p; later records move down by one.
    void RemoveAndFree(uint32_t p) {
        if (p >= Base::Count()) return;
        T* record = Base::At(static_cast<int32_t>(p));
        Base::RemoveAt(p);
        Free(record);
    }
    // Removes and frees, in one pass, every record for which drop(record)
    // is true; the others keep their order. Returns how many went.
    template <class Drop>
    uint32_t RemoveIf(Drop drop) {
        const uint32_t n = Base::Count();
        uint32_t kept = 0;
        for (uint32_t i = 0; i < n; ++i) {
            T* record = Base::At(static_cast<int32_t>(i));
            if (drop(*record)) {
                Free(record);
                continue;
            }
            Base::At(static_cast<int32_t>(kept++)) = record;
        }
        Base::Truncate(kept);
        return n - kept;
    }
    // Ids were written into the records in place (renumbering).
    void IdsChanged() { state_.store(kStale, std::memory_order_relaxed); }

    // The first position holding this id, or kNotFound.
    uint32_t FirstWithId(uint32_t id) const {
        if (!Indexed()) {
            for (uint32_t i = 0; i < Base::Count(); ++i)
                if (Base::At(static_cast<int32_t>(i))->id == id) return i;
            return kNotFound;
        }
        uint32_t first = kNotFound;
        byId_.ForEach(IdHash(id), [&](uint32_t p) {
            if (p < first && Base::At(static_cast<int32_t>(p))->id == id) first = p;
        });
        return first;
    }
    // The position of this very record, or kNotFound.
    uint32_t PositionOf(const T* record) const {
        if (!Indexed()) return Base::IndexOf(const_cast<T*>(record));
        uint32_t at = kNotFound;
        byId_.ForEach(IdHash(record->id), [&](uint32_t p) {
            if (Base::At(static_cast<int32_t>(p)) == record) at = p;
        });
        return at;
    }
    // The first position whose record has a key hashing to `hash` and for
    // which match(record) holds, or kNotFound. match must imply the key's
    // rule (only records with a key of that hash are looked at).
    template <class Match>
    uint32_t FirstWithKey(uint32_t hash, Match match) const {
        if (!Indexed()) {
            for (uint32_t i = 0; i < Base::Count(); ++i) {
                const T& r = *Base::At(static_cast<int32_t>(i));
                if (Traits::HasKey(r) && match(r)) return i;
            }
            return kNotFound;
        }
        uint32_t first = kNotFound;
        byKey_.ForEach(hash, [&](uint32_t p) {
            if (p < first && match(*Base::At(static_cast<int32_t>(p)))) first = p;
        });
        return first;
    }

private:
    static constexpr uint32_t kMaxBlocks = 4;
    enum : uint32_t { kStale, kBuilding, kReady };
    struct Block {
        void* raw;  // the allocation: its record count, then the records
        T* base;
        uint32_t size;
        uint32_t used;
    };

    // The freed blocks of the last tables of this kind (two: prefixes and
    // suffixes share one), kept for the next load: a book closed and
    // opened again then decodes into memory already mapped instead of
    // faulting in fresh pages for every record. Blocks above kMaxSpareBytes
    // go back at once.
    static constexpr size_t kBlockHeader = 16;  // keeps the records aligned
    static constexpr size_t kMaxSpareBytes = size_t(1) << 20;
    static constexpr int kSpares = 2;
    static std::atomic<void*>* Spares() {
        static std::atomic<void*> spares[kSpares] = {};
        return spares;
    }
    static uint32_t BlockSize(const void* raw) {
        uint32_t n;
        std::memcpy(&n, raw, sizeof n);
        return n;
    }
    static T* BlockRecords(void* raw) { return reinterpret_cast<T*>(static_cast<char*>(raw) + kBlockHeader); }
    // A kept block of at least n records, or null.
    static void* TakeSpare(uint32_t n) {
        for (int i = 0; i < kSpares; ++i) {
            if (!Spares()[i].load(std::memory_order_relaxed)) continue;
            void* raw = Spares()[i].exchange(nullptr, std::memory_order_acquire);
            if (!raw) continue;
            if (BlockSize(raw) >= n) return raw;
            ::operator delete(raw);  // the book grew past it
        }
        return nullptr;
    }
    static void KeepSpare(void* raw) {
        if (sizeof(T) * static_cast<size_t>(BlockSize(raw)) <= kMaxSpareBytes) {
            for (int i = 0; i < kSpares; ++i) {
                void* empty = nullptr;
                if (Spares()[i].compare_exchange_strong(empty, raw, std::memory_order_release)) return;
            }
        }
        ::operator delete(raw);
    }

    bool InBlock(const T* record) const {
        // As addresses: the record may come from another allocation.
        const uintptr_t at = reinterpret_cast<uintptr_t>(record);
        for (uint32_t i = 0; i < blockCount_; ++i) {
            const uintptr_t base = reinterpret_cast<uintptr_t>(blocks_[i].base);
            if (at >= base && at - base < sizeof(T) * static_cast<uintptr_t>(blocks_[i].size)) return true;
        }
        return false;
    }
    // The indexes describe the table as it stands.
    bool InStep() const {
        return state_.load(std::memory_order_acquire) == kReady && synced_ == Base::Generation();
    }
    bool IndexOne(const T& record, uint32_t p) {
        if (!byId_.Insert(IdHash(record.id), p)) return false;
        return !Traits::HasKey(record) || byKey_.Insert(Traits::KeyHash(record), p);
    }
    // Builds the indexes when they are behind the table; false when they
    // cannot be had (memory, another reader building them, or the tests'
    // plain walks): the caller then walks the table.
    bool Indexed() const {
        if (!IndexedLookups()) return false;
        uint32_t state = state_.load(std::memory_order_acquire);
        if (state == kReady && synced_ == Base::Generation()) return true;
        if (state == kBuilding || !state_.compare_exchange_strong(state, kBuilding, std::memory_order_acquire))
            return false;
        auto* self = const_cast<BookTable*>(this);
        const uint32_t n = Base::Count();
        // Room for the table to double before the next rebuild.
        bool ok = self->byId_.Reset(2 * n) && self->byKey_.Reset(2 * n);
        for (uint32_t i = 0; ok && i < n; ++i) ok = self->IndexOne(*Base::At(static_cast<int32_t>(i)), i);
        self->synced_ = Base::Generation();
        state_.store(ok ? kReady : kStale, std::memory_order_release);
        return ok;
    }

    Block blocks_[kMaxBlocks] = {};
    uint32_t blockCount_ = 0;
    PositionIndex byId_;
    PositionIndex byKey_;
    mutable std::atomic<uint32_t> state_{kStale};
    uint32_t synced_ = 0;  // the table's generation the indexes describe
};

// A table whose records have no rule key (folders): ids only.
template <class T>
struct IdOnlyKey {
    static bool HasKey(const T&) { return false; }
    static uint32_t KeyHash(const T&) { return 0; }
};

}  // namespace kvi

#endif
