// The security book's users: the name rule and the user table operations.
// Two names are the same under ComparePadded (case and trailing blanks
// ignored); an entry conflicts with a user of the same name and another id.
#include <cstring>

#include "address/compare_padded.h"
#include "security/security_book_file.h"

namespace kvi {
namespace {

bool Conflicts(const SecurityEntry& user, const SecurityEntry& entry) {
    return ComparePadded(user.name, entry.name) == 0 && user.id != entry.id;
}

}  // namespace

int SecurityBookFile::FindUserByName(SecurityEntry& entry) const {
    if (!users_) return 0;
    for (uint32_t i = 0; i < users_->Count(); ++i) {
        const SecurityEntry* user = users_->At(static_cast<int32_t>(i));
        if (ComparePadded(user->name, entry.name) == 0) {
            std::memcpy(&entry, user, sizeof entry);
            return 1;
        }
    }
    return 0;
}

SecurityEntry* SecurityBookFile::FindUser(uint32_t id) const {
    if (!users_) return nullptr;
    for (uint32_t i = 0; i < users_->Count(); ++i) {
        SecurityEntry* user = users_->At(static_cast<int32_t>(i));
        if (user->id == id) return user;
    }
    return nullptr;
}

int32_t SecurityBookFile::InsertUser(SecurityEntry* entry) {
    DfDirectoryEntry* section = UserSection();
    if (!users_ || !section) return kEditRefused;
    const uint32_t n = users_->Count();
    // The limit is tested before the name.
    if (n >= kMaxUsers) return kEditFull;
    for (uint32_t i = 0; i < n; ++i)
        if (Conflicts(*users_->At(static_cast<int32_t>(i)), *entry)) return kEditDuplicate;
    const uint32_t id = section->lastId + 1;
    entry->id = id;
    if (!users_->Append(entry)) return kEditRefused;
    section->lastId = id;
    ++section->count;
    return kEditDone;
}

int32_t SecurityBookFile::ReplaceUser(SecurityEntry* entry) {
    if (!users_) return kEditRefused;
    const uint32_t n = users_->Count();
    for (uint32_t i = 0; i < n; ++i)
        if (Conflicts(*users_->At(static_cast<int32_t>(i)), *entry)) return kEditDuplicate;
    for (uint32_t i = 0; i < n; ++i) {
        SecurityEntry*& slot = users_->At(static_cast<int32_t>(i));
        if (slot->id == entry->id) {
            delete slot;
            slot = entry;
            return kEditDone;
        }
    }
    return kEditRefused;
}

void SecurityBookFile::RemoveUser(SecurityEntry* user) {
    if (!users_) return;
    const uint32_t p = users_->IndexOf(user);
    if (p == kNotFound) return;
    users_->RemoveAt(p);
    delete user;
    DfDirectoryEntry* section = UserSection();
    if (section && section->count > 0) --section->count;
}

}  // namespace kvi

#include "frame/buffer_check.h"
#include "security/security_entry.h"

namespace kvi {

void BuildUser(SecurityEntry& user, const SecurityEntry& entry, uint32_t id) {
    std::memset(&user, 0, sizeof user);
    user.id = id;
    CopyText(user.name, sizeof user.name, entry.name);
    CopyText(user.password, sizeof user.password, entry.password);
    user.extraValue = entry.extraValue;
    user.extraWord = entry.extraWord;
    CopyText(user.extraText, sizeof user.extraText, entry.extraText);
}

void CopyUserFieldsOut(const SecurityEntry& user, SecurityEntry& out) {
    std::memcpy(out.name, user.name, sizeof out.name);
    std::memcpy(out.password, user.password, sizeof out.password);
    out.extraValue = user.extraValue;
    out.extraWord = user.extraWord;
    std::memcpy(out.extraText, user.extraText, sizeof out.extraText);
}

void TerminateUser(SecurityEntry& item) {
    item.name[sizeof item.name - 1] = '\0';
    item.password[sizeof item.password - 1] = '\0';
    item.extraText[sizeof item.extraText - 1] = '\0';
}

}  // namespace kvi
