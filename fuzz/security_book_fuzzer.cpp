// Arbitrary bytes as DIR/KVI32/MERIDOX.PWD: open the security book, list
// every kind, change each table and commit. Any crash, overread, leak or
// undefined behaviour is a finding. A refused file must be left as it was.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "kviabdb.h"

namespace {

// One Windows directory per fuzzing process, made on the first input.
const std::string& BookPath() {
    static const std::string path = [] {
        const std::string& dir = kvi::fuzz::FuzzWindowsDir();
        static char locker[] = "fuzz";
        if (KviDfLockSecurityBook(locker, 0) != 1) abort();
        return dir + "/KVI32/MERIDOX.PWD";
    }();
    return path;
}

std::string ReadBack(const std::string& path) {
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
    return bytes;
}

template <class Item>
void Walk(KviListHandle list, int32_t (*item)(KviListHandle, int32_t, Item*)) {
    const int32_t n = KviDfSecurityListCount(list);
    Item buf;
    for (int32_t i = 0; i <= n && i < 1000; ++i) {
        item(list, i, &buf);
        KviDfSecurityListValidAt(list, i);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = BookPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    if (KviDfOpenSecurityBook(nullptr) != 1) {
        if (ReadBack(path) != std::string(reinterpret_cast<const char*>(data), size)) abort();
        KviDfCommitSecurityBook(1);  // refused: the book is not open
        KviDfCloseSecurityBook();
        return 0;
    }
    const KviListHandle users = KviDfCreateSecurityList();
    const KviListHandle prefixes = KviDfCreatePrefixList();
    const KviListHandle suffixes = KviDfCreateSuffixList();
    const KviListHandle folders = CreateFolderSecurityList();
    Walk(users, KviDfSecurityListItem);
    Walk(prefixes, KviDfAffixListItem);
    Walk(suffixes, KviDfAffixListItem);
    Walk(folders, FolderSecurityListItem);

    GlobalSecurity g;
    if (KviDfGetGlobalSecurity(&g) == 1) KviDfSetGlobalSecurity(&g);
    SecurityEntry u;
    std::memset(&u, 0, sizeof u);
    std::strcpy(u.name, "fuzz");
    uint32_t index = 0;
    KviDfAddSecurityEntry(&u, users, &index);
    AffixEntry a;
    std::memset(&a, 0, sizeof a);
    std::strcpy(a.name, "fuzz");
    KviDfAddPrefixEntry(&a, prefixes, &index);
    KviDfDeleteSuffixEntry(1, suffixes, 0, 1);
    FolderSecurityEntry fe;
    std::memset(&fe, 0, sizeof fe);
    AddFolderSecurityEntry(&fe, folders, &index);
    KviDfDeleteSecurityEntry(1, users, 0);
    KviDfCommitSecurityBook(0);

    KviDfDestroySecurityList(users);
    KviDfDestroyAffixList(prefixes);
    KviDfDestroyAffixList(suffixes);
    DestroyFolderSecurityList(folders);
    // What was committed must open again.
    KviDfCloseSecurityBook();
    if (KviDfOpenSecurityBook(nullptr) != 1) abort();
    KviDfCloseSecurityBook();
    return 0;
}
