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
//
// A load may leave its records undecoded (MakeLazy, BeginUndecoded,
// EndUndecoded): the loader has checked that each one decodes, and keeps
// its bytes, its place and its id; the record is decoded when it is first
// read through At, so an open costs a check of the bytes instead of a copy
// of every field, and a lookup by id decodes only the record it returns.
// The bytes belong to the book's image, which lives as long as the table's
// records.
#ifndef KVI_STORAGE_BOOK_TABLE_H
#define KVI_STORAGE_BOOK_TABLE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <thread>

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
    // it has room (unless that block is lazy: EndUndecoded alone takes its
    // records), else allocated on its own. Null when memory ran out.
    T* NewRecord() {
        if (blockCount_ > 0 && lazy_.size == 0) {
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
        ::operator delete(lazy_.raw);
        lazy_ = Lazy();
        byIdState_.store(kStale, std::memory_order_relaxed);
        byKeyState_.store(kStale, std::memory_order_relaxed);
    }

    using Decoder = uint32_t (*)(T&, const uint8_t*, uint32_t);
    // The records of the block Reserve just made are decoded from the
    // section's bytes on first use, with decode (see BeginUndecoded). False
    // when that cannot be had (no block, memory): records are then decoded
    // as they are added.
    bool MakeLazy(const uint8_t* section, uint32_t length, Decoder decode) {
        lazy_.section = section;
        lazy_.length = length;
        lazy_.decode = decode;
        if (blockCount_ != 1 || blocks_[0].used != 0 || lazy_.raw) return false;
        const uint32_t n = blocks_[0].size;
        void* raw = ::operator new(static_cast<size_t>(n) * (2 * sizeof(uint32_t) + 1), std::nothrow);
        if (!raw) return false;
        lazy_.raw = raw;
        lazy_.offsets = static_cast<uint32_t*>(raw);
        lazy_.ids = lazy_.offsets + n;
        lazy_.states = reinterpret_cast<std::atomic<uint8_t>*>(lazy_.ids + n);
        // A state is set when EndUndecoded puts its record in the table:
        // only it takes records from this block (see NewRecord).
        lazy_.first = blocks_[0].base;
        lazy_.size = n;
        return true;
    }
    // Appends the record at bytes (`available` of them, already found to
    // decode), decoded now and given this id: a load's records past its
    // lazy block. False (nothing added) when memory ran out.
    bool AddDecoded(Decoder decode, const uint8_t* bytes, uint32_t available, uint32_t id) {
        T* record = NewRecord();
        if (!record) return false;
        decode(*record, bytes, available);
        record->id = id;
        if (Add(record)) return true;
        Free(record);
        return false;
    }

    // A loader's run of undecoded records, filled in its own loop (the
    // table's fields stay out of it): records 0 .. room-1 of the lazy
    // block, each with its bytes' offset in the section and its id. Closed
    // from the start when the block is not lazy or already in use.
    class UndecodedRun {
    public:
        bool Open() const { return open_; }
        // Where the next records' offsets and ids go, and how many fit.
        uint32_t Room() const { return room_ - used_; }
        uint32_t* Offsets() const { return offsets_ + used_; }
        uint32_t* Ids() const { return ids_ + used_; }
        // n more records were written at Offsets() and Ids(); a full run
        // goes into the table. False when the table could not grow.
        bool Took(uint32_t n) {
            used_ += n;
            return used_ < room_ || Close();
        }
        bool Keep(uint32_t offset, uint32_t id) {
            offsets_[used_] = offset;
            ids_[used_] = id;
            return Took(1);
        }
        // The records taken become the table's next positions (EndUndecoded).
        bool Close() {
            if (!open_) return true;
            open_ = false;
            return table_->EndUndecoded(used_);
        }

    private:
        friend class BookTable;
        BookTable* table_ = nullptr;
        uint32_t* offsets_ = nullptr;
        uint32_t* ids_ = nullptr;
        uint32_t room_ = 0;
        uint32_t used_ = 0;
        bool open_ = false;
    };
    UndecodedRun BeginUndecoded() {
        UndecodedRun run;
        if (lazy_.size == 0 || blocks_[0].used != 0) return run;
        run.table_ = this;
        run.offsets_ = lazy_.offsets;
        run.ids_ = lazy_.ids;
        run.room_ = lazy_.size;
        run.open_ = true;
        return run;
    }
    // The first n records of the run become the next positions, in order,
    // undecoded. False (nothing added) when the table could not grow.
    bool EndUndecoded(uint32_t n) {
        if (n == 0) return true;
        if (lazy_.size == 0 || blocks_[0].used != 0 || n > lazy_.size) return false;
        T* const first = lazy_.first;
        if (!Base::AppendEach(n, [first](uint32_t k) { return first + k; })) return false;
        // One byte a state, none yet read by another thread: set them all at once.
        static_assert(sizeof(std::atomic<uint8_t>) == 1, "a state is one byte");
        std::memset(static_cast<void*>(lazy_.states), kUndecoded, n);
        blocks_[0].used = n;
        return true;
    }

    // The record at a position, decoded. Every read of a record goes
    // through here (or IdAt).
    T*& At(int32_t position) {
        T*& slot = Base::At(position);
        Decoded(slot);
        return slot;
    }
    T* const& At(int32_t position) const {
        T* const& slot = Base::At(position);
        Decoded(slot);
        return slot;
    }
    // The id of the record at a position, without decoding it.
    uint32_t IdAt(uint32_t position) const { return IdOf(Base::At(static_cast<int32_t>(position))); }

    // The record becomes position Count(). False (nothing taken) when the
    // table could not grow.
    bool Add(T* record) {
        const bool idInStep = InStep(byIdState_, byIdSynced_);
        const bool keyInStep = InStep(byKeyState_, byKeySynced_);
        if (keyInStep) Decoded(record);
        if (!Base::Append(record)) return false;
        const uint32_t p = Base::Count() - 1;
        if (idInStep && byId_.Insert(IdHash(IdOf(record)), p)) byIdSynced_ = Base::Generation();
        if (keyInStep && (!Traits::HasKey(*record) || byKey_.Insert(Traits::KeyHash(*record), p)))
            byKeySynced_ = Base::Generation();
        return true;
    }
    // Puts record at position p and frees the record that was there.
    void ReplaceAt(uint32_t p, T* record) {
        T*& slot = Base::At(static_cast<int32_t>(p));
        T* old = slot;
        if (InStep(byIdState_, byIdSynced_)) {
            byId_.Erase(IdHash(IdOf(old)), p);
            if (!byId_.Insert(IdHash(IdOf(record)), p)) byIdState_.store(kStale, std::memory_order_relaxed);
        }
        if (InStep(byKeyState_, byKeySynced_)) {
            // A key index in step was built from decoded records.
            if (Traits::HasKey(*old)) byKey_.Erase(Traits::KeyHash(*old), p);
            if (Traits::HasKey(*record) && !byKey_.Insert(Traits::KeyHash(*record), p))
                byKeyState_.store(kStale, std::memory_order_relaxed);
        }
        slot = record;
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
    // is true; the others keep their order. Returns how many went. drop
    // takes the record as it stands, decoded or not (see UndecodedBytes,
    // Read): a walk that needs one field of every record and keeps few of
    // them need not decode the others.
    template <class Drop>
    uint32_t RemoveIfAsStored(Drop drop) {
        const uint32_t n = Base::Count();
        uint32_t kept = 0;
        for (uint32_t i = 0; i < n; ++i) {
            T* record = Base::At(static_cast<int32_t>(i));
            if (drop(record)) {
                Free(record);
                continue;
            }
            Base::At(static_cast<int32_t>(kept++)) = record;
        }
        Base::Truncate(kept);
        return n - kept;
    }
    // The bytes an undecoded record is decoded from (which its decoder
    // accepted), or null once it is decoded (read it then).
    const uint8_t* UndecodedBytes(const T* record) const {
        const uint32_t k = LazySlot(record);
        if (k == kNotFound || lazy_.states[k].load(std::memory_order_acquire) == kDecoded) return nullptr;
        return lazy_.section + lazy_.offsets[k];
    }
    // The record at a position as it is stored, perhaps undecoded.
    const T* StoredAt(uint32_t position) const { return Base::At(static_cast<int32_t>(position)); }
    // The record, decoded (as At does for a position).
    const T& Read(const T* record) const {
        Decoded(record);
        return *record;
    }

    // Ids were written into the records in place (renumbering).
    void IdsChanged() {
        byIdState_.store(kStale, std::memory_order_relaxed);
        byKeyState_.store(kStale, std::memory_order_relaxed);
    }

    // The first position holding this id, or kNotFound.
    uint32_t FirstWithId(uint32_t id) const {
        if (!IdIndexed()) {
            for (uint32_t i = 0; i < Base::Count(); ++i)
                if (IdAt(i) == id) return i;
            return kNotFound;
        }
        uint32_t first = kNotFound;
        byId_.ForEach(IdHash(id), [&](uint32_t p) {
            if (p < first && IdAt(p) == id) first = p;
        });
        return first;
    }
    // The position of this very record, or kNotFound.
    uint32_t PositionOf(const T* record) const {
        if (!IdIndexed()) return Base::IndexOf(const_cast<T*>(record));
        uint32_t at = kNotFound;
        byId_.ForEach(IdHash(IdOf(record)), [&](uint32_t p) {
            if (Base::At(static_cast<int32_t>(p)) == record) at = p;
        });
        return at;
    }
    // The first position whose record has a key hashing to `hash` and for
    // which match(record) holds, or kNotFound. match must imply the key's
    // rule (only records with a key of that hash are looked at).
    template <class Match>
    uint32_t FirstWithKey(uint32_t hash, Match match) const {
        if (!KeyIndexed()) {
            for (uint32_t i = 0; i < Base::Count(); ++i) {
                const T& r = *At(static_cast<int32_t>(i));
                if (Traits::HasKey(r) && match(r)) return i;
            }
            return kNotFound;
        }
        uint32_t first = kNotFound;
        byKey_.ForEach(hash, [&](uint32_t p) {
            if (p < first && match(*At(static_cast<int32_t>(p)))) first = p;
        });
        return first;
    }

private:
    static constexpr uint32_t kMaxBlocks = 4;
    enum : uint32_t { kStale, kBuilding, kReady };
    enum : uint8_t { kUndecoded, kDecoding, kDecoded };
    // The load block's records and, for each, where its bytes are, its id
    // and whether it is decoded yet (one allocation for the three arrays).
    struct Lazy {
        void* raw = nullptr;
        uint32_t* offsets = nullptr;
        uint32_t* ids = nullptr;
        std::atomic<uint8_t>* states = nullptr;
        T* first = nullptr;
        uint32_t size = 0;
        const uint8_t* section = nullptr;
        uint32_t length = 0;
        Decoder decode = nullptr;
    };
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
    // The lazy block's slot of a record, or kNotFound.
    uint32_t LazySlot(const T* record) const {
        const uintptr_t at = reinterpret_cast<uintptr_t>(record);
        const uintptr_t first = reinterpret_cast<uintptr_t>(lazy_.first);
        if (at < first || at - first >= sizeof(T) * static_cast<uintptr_t>(lazy_.size)) return kNotFound;
        return static_cast<uint32_t>((at - first) / sizeof(T));
    }
    uint32_t IdOf(const T* record) const {
        const uint32_t k = LazySlot(record);
        if (k != kNotFound && lazy_.states[k].load(std::memory_order_acquire) != kDecoded) return lazy_.ids[k];
        return record->id;
    }
    // Decodes the record if it is still undecoded. Readers may race here:
    // one decodes, the others wait for it (a decode is a few hundred
    // cycles).
    void Decoded(const T* record) const {
        const uint32_t k = LazySlot(record);
        if (k == kNotFound) return;
        std::atomic<uint8_t>& state = lazy_.states[k];
        uint8_t s = state.load(std::memory_order_acquire);
        if (s == kDecoded) return;
        if (s == kUndecoded && state.compare_exchange_strong(s, kDecoding, std::memory_order_acquire)) {
            T& r = lazy_.first[k];
            const uint32_t offset = lazy_.offsets[k];
            lazy_.decode(r, lazy_.section + offset, lazy_.length - offset);
            r.id = lazy_.ids[k];
            state.store(kDecoded, std::memory_order_release);
            return;
        }
        while (state.load(std::memory_order_acquire) != kDecoded) std::this_thread::yield();
    }

    // An index describes the table as it stands.
    bool InStep(const std::atomic<uint32_t>& state, uint32_t synced) const {
        return state.load(std::memory_order_acquire) == kReady && synced == Base::Generation();
    }
    // Builds an index when it is behind the table; false when it cannot be
    // had (memory, another reader building it, or the tests' plain walks):
    // the caller then walks the table.
    template <class Fill>
    bool Built(std::atomic<uint32_t>& state, uint32_t& synced, Fill fill) const {
        if (!IndexedLookups()) return false;
        uint32_t s = state.load(std::memory_order_acquire);
        if (s == kReady && synced == Base::Generation()) return true;
        if (s == kBuilding || !state.compare_exchange_strong(s, kBuilding, std::memory_order_acquire)) return false;
        const bool ok = fill();
        synced = Base::Generation();
        state.store(ok ? kReady : kStale, std::memory_order_release);
        return ok;
    }
    // The id index reads the ids without decoding; the key index decodes
    // every record. Both have room for the table to double before the
    // next rebuild.
    bool IdIndexed() const {
        auto* self = const_cast<BookTable*>(this);
        return Built(self->byIdState_, self->byIdSynced_, [self] {
            const uint32_t n = self->Base::Count();
            bool ok = self->byId_.Reset(2 * n);
            for (uint32_t i = 0; ok && i < n; ++i) ok = self->byId_.Insert(IdHash(self->IdAt(i)), i);
            return ok;
        });
    }
    bool KeyIndexed() const {
        auto* self = const_cast<BookTable*>(this);
        return Built(self->byKeyState_, self->byKeySynced_, [self] {
            const uint32_t n = self->Base::Count();
            bool ok = self->byKey_.Reset(2 * n);
            for (uint32_t i = 0; ok && i < n; ++i) {
                const T& r = *self->At(static_cast<int32_t>(i));
                if (Traits::HasKey(r)) ok = self->byKey_.Insert(Traits::KeyHash(r), i);
            }
            return ok;
        });
    }

    Block blocks_[kMaxBlocks] = {};
    uint32_t blockCount_ = 0;
    Lazy lazy_;
    PositionIndex byId_;
    PositionIndex byKey_;
    std::atomic<uint32_t> byIdState_{kStale};
    std::atomic<uint32_t> byKeyState_{kStale};
    uint32_t byIdSynced_ = 0;  // the table's generation each index describes
    uint32_t byKeySynced_ = 0;
};

// A table whose records have no rule key (folders): ids only.
template <class T>
struct IdOnlyKey {
    static bool HasKey(const T&) { return false; }
    static uint32_t KeyHash(const T&) { return 0; }
};

}  // namespace kvi

#endif
