// The library's lists as the commands read them, and a list of records as
// they print it.
#ifndef KVIDF_LISTS_H
#define KVIDF_LISTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "exit_codes.h"
#include "kviabdb.h"
#include "records.h"

namespace kvidf {

// Every entry of a list just made, in list order, skipping the places of
// entries deleted since (blank) and items the library will not give; the
// list is destroyed. A list that could not be made throws
// Failure(kFailed, "<what> could not be made").
template <typename Record>
std::vector<Record> ListItems(KviListHandle list, int32_t(KVI_API* count)(KviListHandle),
                              int32_t(KVI_API* item)(KviListHandle, int32_t, Record*),
                              void(KVI_API* destroy)(KviListHandle), const std::string& what) {
    if (list == 0 || list == ~KviListHandle{0}) throw Failure(kFailed, what + " could not be made");
    std::vector<Record> records;
    const int32_t n = count(list);
    for (int32_t i = 0; i < n; ++i) {
        Record r{};
        if (item(list, i, &r) == 1 && r.id != kBlankId) records.push_back(r);
    }
    destroy(list);
    return records;
}

// --json: the array; otherwise a line each and "<count> <noun>", or none
// when there are no records.
template <typename Record>
void PrintRecords(const std::vector<Record>& records, const std::string& none, const std::string& noun) {
    json items = json::array();
    std::string text;
    for (const Record& r : records) {
        items.push_back(ToJson(r));
        text += ToText(r) + "\n";
    }
    Print(items, records.empty() ? none : text + std::to_string(records.size()) + " " + noun);
}

}  // namespace kvidf

#endif
