// The library's records as JSON (for --json, export and import) and as
// lines of text. JSON field names are the ones kvidf's options use.
#ifndef KVIDF_RECORDS_H
#define KVIDF_RECORDS_H

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kviabdb.h"

namespace kvidf {

using nlohmann::json;

constexpr uint32_t kBlankId = 0xFFFFFFFFu;
constexpr uint32_t kProtectionBit = 0x200u;  // GlobalSecurity.flags: password protection on

// "modem", "network", "wireless", "cable", "unset", or the number.
std::string ConnectionTypeName(uint16_t type);
// A type as JSON gives it: a name, a number, or a number in text.
bool ParseConnectionType(const json& t, uint16_t& type);

json ToJson(const AddressRecord& r);
json ToJson(const SecurityEntry& r);
json ToJson(const AffixEntry& r);
json ToJson(const FolderSecurityEntry& r);
json ToJson(const GlobalSecurity& r);

// A table's records as a JSON array, ids included.
template <typename Record>
json Entries(const std::vector<Record>& records) {
    json a = json::array();
    for (const Record& r : records) a.push_back(ToJson(r));
    return a;
}

// Fill a zeroed record from an exported object; the id is not taken (the
// book gives ids). An unknown key, a field of the wrong kind, a text the
// books' code page cannot hold or too long for its field throws
// Failure(kFileError) naming the field.
void FromJson(const json& j, AddressRecord& r);
void FromJson(const json& j, SecurityEntry& r);
void FromJson(const json& j, AffixEntry& r);
void FromJson(const json& j, FolderSecurityEntry& r);

std::string ToText(const AddressRecord& r);
std::string ToText(const SecurityEntry& r);
std::string ToText(const AffixEntry& r);
std::string ToText(const FolderSecurityEntry& r);
std::string ToText(const GlobalSecurity& r);

}  // namespace kvidf

#endif
