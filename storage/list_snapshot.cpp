#include "storage/list_snapshot.h"

#include <cstring>
#include <new>

namespace kvi {

ListSnapshot::ListSnapshot(uint32_t n, uint32_t itemSize, ListKind kind)
    : items_(static_cast<int32_t>(n + 5), 50),
      lastIndex_(-1),
      freePositions_(20, 20),
      freeCount_(0),
      itemSize_(itemSize),
      kind_(kind) {}

ListSnapshot* ListSnapshot::Create(uint32_t n, uint32_t itemSize, ListKind kind) {
    if (n > 0x7FFFFFF0u || itemSize < 8) return nullptr;
    ListSnapshot* list = new (std::nothrow) ListSnapshot(n, itemSize, kind);
    if (list && !list->Ok()) {
        delete list;
        return nullptr;
    }
    return list;
}

ListSnapshot::~ListSnapshot() {
    for (int32_t p = 0; p <= lastIndex_; ++p) delete[] items_.At(p);
}

uint8_t* ListSnapshot::ItemAt(int32_t p) {
    if (p < 0 || p == INT32_MAX) return nullptr;
    if (p > lastIndex_) {
        if (!items_.Ensure(p + 1)) return nullptr;
        for (int32_t q = p; q > lastIndex_; --q) items_.At(q) = nullptr;
        lastIndex_ = p;
    }
    uint8_t*& slot = items_.At(p);
    if (!slot) {
        slot = new (std::nothrow) uint8_t[itemSize_]();
        if (!slot) return nullptr;
        std::memcpy(slot + 4, &kBlankId, 4);
    }
    return slot;
}

namespace {

// The item sizes of the library's lists (address, user, affix, folder),
// each copied with a fixed size that the compiler does inline: a list item
// is read once per call, beside one system call.
void CopyItem(void* to, const uint8_t* item, uint32_t size) {
    switch (size) {
        case 164: std::memcpy(to, item, 164); return;
        case 112: std::memcpy(to, item, 112); return;
        case 104: std::memcpy(to, item, 104); return;
        case 276: std::memcpy(to, item, 276); return;
        default: std::memcpy(to, item, size); return;
    }
}

}  // namespace

int ListSnapshot::CopyOut(int32_t p, void* out) {
    if (p < 0 || p > lastIndex_ + 1) return 0;
    const uint8_t* item = ItemAt(p);
    if (!item) return 0;
    CopyItem(out, item, itemSize_);
    return 1;
}

const uint8_t* ListSnapshot::Peek(int32_t p) const {
    if (p < 0 || p > lastIndex_) return nullptr;
    return items_.At(p);
}

int ListSnapshot::ValidAt(int32_t p) const {
    const uint8_t* item = Peek(p);
    if (!item) return 0;
    uint32_t id;
    std::memcpy(&id, item + 4, 4);
    return id != kBlankId ? 1 : 0;
}

void ListSnapshot::ReleasePosition(int32_t p) {
    if (p < 0 || p > lastIndex_) return;
    delete[] items_.At(p);
    items_.At(p) = nullptr;
    for (int32_t i = 0; i < freeCount_; ++i)
        if (freePositions_.At(i) == static_cast<uint32_t>(p)) return;  // already on the stack
    if (!freePositions_.Ensure(freeCount_ + 1)) return;
    freePositions_.At(freeCount_) = static_cast<uint32_t>(p);
    ++freeCount_;
}

int32_t ListSnapshot::TakePosition() {
    if (freeCount_ > 0) {
        --freeCount_;
        return static_cast<int32_t>(freePositions_.At(freeCount_));
    }
    ++lastIndex_;
    if (!items_.Ensure(lastIndex_ + 1)) {
        --lastIndex_;
        return -1;
    }
    items_.At(lastIndex_) = nullptr;
    return lastIndex_;
}

int32_t ListSnapshot::AddItem(const void* bytes) {
    const int32_t p = TakePosition();
    uint8_t* item = p >= 0 ? ItemAt(p) : nullptr;
    if (!item) return -1;
    std::memcpy(item, bytes, itemSize_);
    return p;
}

int ListSnapshot::OverwriteAt(int32_t p, const void* bytes) {
    uint8_t* item = ItemAt(p);
    if (!item) return 0;
    std::memcpy(item, bytes, itemSize_);
    ForgetFreePosition(p);
    return 1;
}

void ListSnapshot::ForgetFreePosition(int32_t p) {
    int32_t kept = 0;
    for (int32_t i = 0; i < freeCount_; ++i) {
        const uint32_t f = freePositions_.At(i);
        if (f != static_cast<uint32_t>(p)) freePositions_.At(kept++) = f;
    }
    freeCount_ = kept;
}

void ListSnapshot::RemovePosition(int32_t p) {
    if (p < 0 || p > lastIndex_) return;
    delete[] items_.At(p);
    for (int32_t q = p; q < lastIndex_; ++q) items_.At(q) = items_.At(q + 1);
    items_.At(lastIndex_) = nullptr;
    --lastIndex_;
    int32_t kept = 0;
    for (int32_t i = 0; i < freeCount_; ++i) {
        uint32_t f = freePositions_.At(i);
        if (f == static_cast<uint32_t>(p)) continue;
        freePositions_.At(kept++) = f > static_cast<uint32_t>(p) ? f - 1 : f;
    }
    freeCount_ = kept;
}

}  // namespace kvi
