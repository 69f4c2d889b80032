#include "security/global_security.h"

#include <cstring>

#include "frame/buffer_check.h"
#include "security/security_book_file.h"
#include "storage/df_format.h"

namespace kvi {

void SetGlobalDefaults(GlobalSecurity& g) {
    std::memset(&g, 0, sizeof g);
    g.size = sizeof g;
    g.mode = kDefaultGlobalMode;
    g.flags = kDefaultGlobalFlags;
    g.extraWord1 = kDefaultExtraWord1;
    g.extraWord2 = kDefaultExtraWord2;
}

int ReplaceGlobalSecurity(SecurityBookFile& book, const GlobalSecurity& record) {
    GlobalSecurity* global = book.Global();
    if (!global) return 0;
    book.SetModified(1);
    // The headers hold 15 characters; neither text need be terminated
    // within its 276-byte area.
    char newPassword[kDfPasswordSize];
    char oldPassword[kDfPasswordSize];
    CopyText(newPassword, kDfPasswordSize, record.password);
    CopyText(oldPassword, kDfPasswordSize, global->password);
    const uint16_t flag = (record.flags & kPasswordProtectionBit) ? 1 : 0;
    BookFile::NotifyPasswordChange(newPassword, flag, oldPassword);
    std::memcpy(global, &record, sizeof *global);
    book.SetGlobalChanged();
    return 1;
}

}  // namespace kvi
