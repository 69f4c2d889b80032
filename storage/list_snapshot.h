// A list snapshot: the sparse table of record copies behind a list handle.
// Positions run from 0 to lastIndex; a position may be empty after a delete
// through the list, and emptied positions are kept on a stack and reused,
// the most recently emptied first. The count (lastIndex + 1) never falls.
#ifndef KVI_STORAGE_LIST_SNAPSHOT_H
#define KVI_STORAGE_LIST_SNAPSHOT_H

#include <cstdint>

#include "storage/record_table.h"

namespace kvi {

// Every item begins with the size word and has its id at offset 4;
// this id marks a blank item.
constexpr uint32_t kBlankId = 0xFFFFFFFFu;

// What a snapshot holds; the exports refuse a handle of another kind so
// that a copy never runs past an item.
enum class ListKind : uint32_t {
    kAddress = 1,
    kSecurity = 2,
    kPrefix = 3,
    kSuffix = 4,
    kFolder = 5,
};

class ListSnapshot {
public:
    // Room for n records plus 6 (step 50) and 21 free positions (step 20).
    // Returns null when memory runs out.
    static ListSnapshot* Create(uint32_t n, uint32_t itemSize, ListKind kind);
    ~ListSnapshot();
    ListSnapshot(const ListSnapshot&) = delete;
    ListSnapshot& operator=(const ListSnapshot&) = delete;

    ListKind Kind() const { return kind_; }
    uint32_t ItemSize() const { return itemSize_; }

    // The item at p (p >= 0), made on demand: positions between the old
    // end and p become empty, and an empty position gets a blank item
    // (zero bytes, id 0xFFFFFFFF). Null only when memory runs out.
    uint8_t* ItemAt(int32_t p);
    // Copies the whole item at p into out; p may be one past the end
    // (which adds a blank item). 0 for a negative p or one further out.
    int CopyOut(int32_t p, void* out);
    // 1 when p holds an item that is not blank; never makes an item.
    int ValidAt(int32_t p) const;
    int32_t Count() const { return lastIndex_ + 1; }
    int32_t LastIndex() const { return lastIndex_; }
    // Frees the item at p (0 <= p <= lastIndex) and pushes p on the stack.
    void ReleasePosition(int32_t p);
    // The most recently emptied position, else lastIndex + 1.
    int32_t TakePosition();
    // An add through the list: copies ItemSize() bytes into the position
    // TakePosition gives and returns it, or -1 when memory ran out.
    int32_t AddItem(const void* bytes);
    // An update through the list: the item at p (made on demand, growing
    // the list to p) gets ItemSize() bytes, and p leaves the stack of
    // emptied positions, so that no later add lands on the updated item.
    // 0 when memory ran out.
    int OverwriteAt(int32_t p, const void* bytes);
    // Drops the empty position p and moves every later position down by
    // one (a compacting delete); the stack forgets p and renumbers the
    // positions above it, so it never names a position that holds an item.
    void RemovePosition(int32_t p);
    // The item at p, or null when p is out of range or empty.
    const uint8_t* Peek(int32_t p) const;

private:
    ListSnapshot(uint32_t n, uint32_t itemSize, ListKind kind);
    bool Ok() const { return items_.Ok() && freePositions_.Ok(); }
    // Takes p off the stack of emptied positions, keeping the others' order.
    void ForgetFreePosition(int32_t p);

    RecordTable<uint8_t*> items_;
    int32_t lastIndex_;
    RecordTable<uint32_t> freePositions_;
    int32_t freeCount_;
    uint32_t itemSize_;
    ListKind kind_;
};

}  // namespace kvi

#endif
