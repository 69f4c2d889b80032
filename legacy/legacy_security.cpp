// The earlier generation's security file, "KVI\KVI.DA2" under the Windows
// directory: a 22-byte header (i32 first value, i32 mode, i32 user count,
// 10 unused bytes; all signed, none may be negative), then 40-byte user
// records (name in 21 bytes, password in 19, NUL-terminated, OEM code
// page). The import takes over the users, except the default user, and
// the mode.
#include <cstring>
#include <new>

#include "address/compare_padded.h"
#include "legacy/legacy_address.h"
#include "platform/platform.h"
#include "security/security_book_file.h"
#include "storage/io_file.h"

namespace kvi {

namespace {

#pragma pack(push, 1)
struct LegacySecurityHeader {
    int32_t first;
    int32_t mode;
    int32_t userCount;
    uint8_t unused[10];
};
struct LegacyUser {
    char name[21];
    char password[19];
};
#pragma pack(pop)
static_assert(sizeof(LegacySecurityHeader) == 22, "legacy security header is 22 bytes");
static_assert(sizeof(LegacyUser) == 40, "legacy user record is 40 bytes");

// The earlier generation's default user, in each language it shipped in:
// 24 characters, blank-padded, ANSI (the French é is 0xE9).
const char* const kDefaultUserNames[] = {
    "Default User            ",
    "Standard-Benutzer       ",
    "Nom par d\351faut          ",  // \351 is 0xE9
    "Usuario por defecto     ",
    "Utente predefinito      ",
};

// A name that is a prefix of a default user name (compared exactly, so an
// empty name or "Default" counts, "default user" does not).
bool IsDefaultUser(const char* name) {
    const size_t n = std::strlen(name);
    for (const char* d : kDefaultUserNames)
        if (std::strncmp(name, d, n) == 0) return true;
    return false;
}

// Cuts a terminated text to a field, always terminated.
void CopyCut(char* field, size_t fieldSize, const char* text) {
    const size_t n = std::strlen(text);
    const size_t kept = n < fieldSize ? n : fieldSize - 1;
    std::memcpy(field, text, kept);
    field[kept] = '\0';
}

uint32_t MapMode(int32_t old) { return old == 1 ? 3 : old == 3 ? 2 : 1; }

constexpr uint32_t kLegacyUserExtraValue = 11;
constexpr uint16_t kLegacyUserExtraWord = 1;

}  // namespace

// Runs once, inside the Load that makes a new book. Users go straight to
// the table (no limit; the first of a name wins) and every user read, kept
// or not, uses up an id. The old file is named for deletion only when all
// of it was read; the load deletes it once the book is committed.
int SecurityBookFile::ImportLegacySecurity(char* legacyDone) {
    char path[BookFile::kLegacyPathSize];
    if (legacyDone) legacyDone[0] = '\0';
    if (!BuildLegacyPath(path, sizeof path, legacyFileName_)) return 0;
    IoFile file(path, kGenericRead);  // every early return closes it
    if (file.Open(kGenericRead) != 0) return 0;
    LegacySecurityHeader header;
    if (file.Read(&header, sizeof header) != 0) return 0;
    // The mode is taken over before the header is judged.
    global_->mode = MapMode(header.mode);
    if (header.userCount < 0 || header.first < 0 || header.mode < 0) return 0;

    DfDirectoryEntry* section = UserSection();
    for (int32_t i = 0; i < header.userCount; ++i) {
        LegacyUser old;
        if (file.Read(&old, sizeof old) != 0) return 0;
        char name[sizeof old.name + 1];
        char password[sizeof old.password + 1];
        std::memcpy(name, old.name, sizeof old.name);
        name[sizeof old.name] = '\0';
        std::memcpy(password, old.password, sizeof old.password);
        password[sizeof old.password] = '\0';
        platform::OemToAnsi(name, name);
        platform::OemToAnsi(password, password);
        if (IsDefaultUser(name)) continue;

        SecurityEntry* user = new (std::nothrow) SecurityEntry;
        if (!user) continue;
        std::memset(user, 0, sizeof *user);
        // Cut to the fields, always terminated.
        CopyCut(user->name, sizeof user->name, name);
        CopyCut(user->password, sizeof user->password, password);
        user->extraWord = kLegacyUserExtraWord;
        user->extraValue = kLegacyUserExtraValue;
        user->id = ++section->lastId;

        bool taken = false;
        for (uint32_t u = 0; u < users_->Count() && !taken; ++u)
            taken = ComparePadded(users_->At(static_cast<int32_t>(u))->name, user->name) == 0;
        if (taken || !users_->Append(user)) delete user;
    }
    file.Close();
    if (legacyDone) std::memcpy(legacyDone, path, sizeof path);
    return 1;
}

}  // namespace kvi
