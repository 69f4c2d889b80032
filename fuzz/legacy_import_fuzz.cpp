// Arbitrary bytes as the earlier generation's address file (KVI\KVI.DA1)
// or security file (KVI\KVI.DA2), taken over by the open that creates the
// matching book. The first byte chooses the file. The book that the open
// wrote must open again.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "kviabdb.h"

namespace {

void Write(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

int32_t CountAddresses() {
    const KviListHandle list = KviDfCreateAddressList();
    const int32_t n = KviDfAddressListCount(list);
    AddressRecord item;
    for (int32_t i = 0; i < n; ++i) KviDfAddressListItem(list, i, &item);
    KviDfDestroyAddressList(list);
    return n;
}

int32_t CountUsers() {
    const KviListHandle list = KviDfCreateSecurityList();
    const int32_t n = KviDfSecurityListCount(list);
    SecurityEntry item;
    for (int32_t i = 0; i < n; ++i) KviDfSecurityListItem(list, i, &item);
    KviDfDestroySecurityList(list);
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string& dir = kvi::fuzz::FuzzWindowsDir();
    const bool address = (data[0] & 1) == 0;
    const std::string old = dir + (address ? "/KVI/KVI.DA1" : "/KVI/KVI.DA2");
    const std::string book = dir + (address ? "/KVI32/MERIDOX.PBK" : "/KVI32/MERIDOX.PWD");
    std::filesystem::remove(book);
    Write(old, data + 1, size - 1);

    if (address) {
        if (KviDfOpenAddressBook(0) != 1) abort();  // a new book always opens
        const int32_t n = CountAddresses();
        KviDfCloseAddressBook();
        if (KviDfOpenAddressBook(0) != 1 || CountAddresses() != n) abort();
        KviDfCloseAddressBook();
    } else {
        if (KviDfOpenSecurityBook(nullptr) != 1) abort();
        const int32_t n = CountUsers();
        KviDfCloseSecurityBook();
        if (KviDfOpenSecurityBook(nullptr) != 1 || CountUsers() != n) abort();
        KviDfCloseSecurityBook();
    }
    std::filesystem::remove(old);
    return 0;
}
