// Arbitrary bytes as a book file (the first byte picks the book), read by
// kvidf as `check` and `recover` read it. Findings: a crash or overread on
// any input; kvidf calling a file sound that the library's open refuses, or
// damaged where the open takes it; a salvaged book that kvidf or the
// library would not open again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "book_image.h"
#include "fuzz_support.h"
#include "kviabdb.h"

namespace {

using kvidf::Book;

void WriteBook(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Whether the library opens the file; the book is closed again.
bool LibraryOpens(Book book) {
    const bool opened =
        book == Book::kAddress ? KviDfOpenAddressBook(0) == 1 : KviDfOpenSecurityBook(nullptr) == 1;
    if (book == Book::kAddress)
        KviDfCloseAddressBook();
    else
        KviDfCloseSecurityBook();
    return opened;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;  // an empty file is no book to kvidf, a new one to the library
    const std::string& dir = kvi::fuzz::FuzzWindowsDir();
    const Book book = (data[0] & 1) ? Book::kSecurity : Book::kAddress;
    const std::string path = dir + "/KVI32/" + kvidf::BookFileName(book);
    const std::vector<uint8_t> bytes(data + 1, data + size);

    const kvidf::BookImage image = kvidf::ReadBookImage(bytes, book);
    WriteBook(path, bytes);
    if (LibraryOpens(book) == image.Refused()) std::abort();

    const kvidf::BookImage salvaged = kvidf::ReadBookImage(bytes, book, true);
    const std::vector<uint8_t> rebuilt = kvidf::EncodeBook(salvaged);
    if (kvidf::ReadBookImage(rebuilt, book).Refused()) std::abort();
    WriteBook(path, rebuilt);
    if (!LibraryOpens(book)) std::abort();
    std::remove(path.c_str());
    return 0;
}
