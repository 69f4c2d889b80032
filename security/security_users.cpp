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
    const uint32_t p = users_->FirstWithKey(UserKey::KeyHash(entry), [&](const SecurityEntry& user) {
        return ComparePadded(user.name, entry.name) == 0;
    });
    if (p == kNotFound) return 0;
    std::memcpy(&entry, users_->At(static_cast<int32_t>(p)), sizeof entry);
    return 1;
}

SecurityEntry* SecurityBookFile::FindUser(uint32_t id) const {
    if (!users_) return nullptr;
    const uint32_t p = users_->FirstWithId(id);
    return p == kNotFound ? nullptr : users_->At(static_cast<int32_t>(p));
}

namespace {

bool AnyConflict(const SecurityBookFile::UserTable& users, const SecurityEntry& entry) {
    return users.FirstWithKey(UserKey::KeyHash(entry), [&](const SecurityEntry& user) {
        return Conflicts(user, entry);
    }) != kNotFound;
}

}  // namespace

int32_t SecurityBookFile::InsertUser(SecurityEntry* entry) {
    DfDirectoryEntry* section = UserSection();
    if (!users_ || !section) return kEditRefused;
    // The limit is tested before the name.
    if (users_->Count() >= kMaxUsers) return kEditFull;
    if (AnyConflict(*users_, *entry)) return kEditDuplicate;
    if (section->lastId >= kMaxRecordId) return kEditRefused;
    const uint32_t id = section->lastId + 1;
    entry->id = id;
    if (!users_->Add(entry)) return kEditRefused;
    section->lastId = id;
    ++section->count;
    return kEditDone;
}

int32_t SecurityBookFile::ReplaceUser(SecurityEntry* entry) {
    if (!users_) return kEditRefused;
    if (AnyConflict(*users_, *entry)) return kEditDuplicate;
    const uint32_t p = users_->FirstWithId(entry->id);
    if (p == kNotFound) return kEditRefused;
    users_->ReplaceAt(p, entry);
    return kEditDone;
}

void SecurityBookFile::RemoveUser(SecurityEntry* user) {
    if (!users_) return;
    const uint32_t p = users_->PositionOf(user);
    if (p == kNotFound) return;
    users_->RemoveAndFree(p);
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
