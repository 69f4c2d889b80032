// Arbitrary bytes as DIR/KVI32/MERIDOX.PBK: open the book, list it, add an
// entry and commit. Any crash, overread, leak or undefined behaviour is a
// finding; inputs that found one are kept in tests/fixtures/ and replayed
// by the normal tests.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "kviabdb.h"

namespace {

// One Windows directory per fuzzing process, made on the first input.
const std::string& BookPath() {
    static const std::string path = [] {
        const std::string& dir = kvi::fuzz::FuzzWindowsDir();
        static char locker[] = "fuzz";
        if (KviDfLockAddressBook(locker) != 1) abort();
        return dir + "/KVI32/MERIDOX.PBK";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = BookPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    if (KviDfOpenAddressBook(0) == 1) {
        const KviListHandle list = KviDfCreateAddressList();
        const int32_t n = KviDfAddressListCount(list);
        AddressRecord item;
        for (int32_t i = 0; i <= n && i < 1000; ++i) {
            KviDfAddressListItem(list, i, &item);
            KviDfAddressListValidAt(list, i);
            if (i < n && item.id != 0xFFFFFFFFu) KviDfGetAddress(&item);
        }
        AddressRecord e;
        std::memset(&e, 0, sizeof e);
        std::strcpy(e.name, "Fuzz");
        std::strcpy(e.address, "fuzz");
        e.connectionType = 2;
        uint32_t index = 0;
        KviDfAddAddress(&e, list, &index);
        if (n > 0) KviDfDeleteAddress(1, list, 0);
        KviDfCommitAddressBook(0);
        KviDfDestroyAddressList(list);
        // What was committed must open again.
        KviDfCloseAddressBook();
        if (KviDfOpenAddressBook(0) != 1) abort();
    }
    KviDfCloseAddressBook();
    return 0;
}
