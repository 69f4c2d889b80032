#include "records.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "exit_codes.h"
#include "session.h"
#include "text_1252.h"

namespace kvidf {

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

// Reads one optional field of an imported object.
class Reader {
public:
    // keys: every key an entry of this kind may have; any other is refused
    // (a misspelt key would otherwise lose its value without a word).
    Reader(const json& j, const char* what, std::initializer_list<const char*> keys) : j_(j), what_(what) {
        if (!j.is_object()) throw Failure(kFileError, std::string("an entry of ") + what + " is not an object");
        for (const auto& item : j.items()) {
            bool known = false;
            for (const char* k : keys) known = known || item.key() == k;
            if (!known) {
                std::string list;
                for (const char* k : keys) list += std::string(list.empty() ? "" : ", ") + k;
                Bad(item.key().c_str(), "is not a field of " + std::string(what) + " (the fields are " + list + ")");
            }
        }
    }
    template <size_t N>
    void Text(const char* key, char (&field)[N]) {
        if (!j_.contains(key)) return;
        if (!j_[key].is_string()) Bad(key, "is not a text");
        std::string why;
        const auto text = Utf8To1252(j_[key].get<std::string>(), &why);
        if (!text) Bad(key, why);
        if (text->size() > N - 1) Bad(key, "is longer than " + std::to_string(N - 1) + " characters");
        std::memset(field, 0, N);
        std::memcpy(field, text->data(), text->size());
    }
    // The value of key, or current when the object has none. By value:
    // the records' fields are packed and cannot be bound to references.
    template <typename T>
    T Number(const char* key, T current) const {
        if (!j_.contains(key)) return current;
        if (!j_[key].is_number_unsigned() || j_[key].get<uint64_t>() > static_cast<T>(-1))
            Bad(key, "is not a number from 0 to " + std::to_string(static_cast<T>(-1)));
        return j_[key].get<T>();
    }
    const json& Raw() const { return j_; }
    [[noreturn]] void Bad(const char* key, const std::string& why) const {
        throw Failure(kFileError, std::string(what_) + ": field \"" + key + "\" " + why);
    }

private:
    const json& j_;
    const char* what_;
};

}  // namespace

std::string ConnectionTypeName(uint16_t type) {
    switch (type) {
        case 0: return "unset";
        case 1: return "modem";
        case 2: return "network";
        case 3: return "wireless";
        case 4: return "cable";
        default: return std::to_string(type);
    }
}

json ToJson(const AddressRecord& r) {
    return json{{"id", uint32_t{r.id}},
                {"name", FieldText(r.name)},
                {"address", FieldText(r.address)},
                {"phone", FieldText(r.phoneNumber)},
                {"text1", FieldText(r.extraText1)},
                {"text2", FieldText(r.extraText2)},
                {"type", ConnectionTypeName(r.connectionType)},
                {"extra_value", uint32_t{r.extraValue}}};
}

json ToJson(const SecurityEntry& r) {
    return json{{"id", uint32_t{r.id}},
                {"name", FieldText(r.name)},
                {"password", FieldText(r.password)},
                {"extra_value", uint32_t{r.extraValue}},
                {"extra_word", uint16_t{r.extraWord}},
                {"extra_text", FieldText(r.extraText)}};
}

json ToJson(const AffixEntry& r) {
    return json{{"id", uint32_t{r.id}}, {"name", FieldText(r.name)}, {"text", FieldText(r.affixText)}};
}

json ToJson(const FolderSecurityEntry& r) {
    return json{{"id", uint32_t{r.id}}, {"path", FieldText(r.path)}, {"extra_value", uint32_t{r.extraValue}}, {"extra_word", uint16_t{r.extraWord}}};
}

json ToJson(const GlobalSecurity& r) {
    return json{{"size", uint32_t{r.size}},
                {"mode", uint32_t{r.mode}},
                {"flags", uint32_t{r.flags}},
                {"protection", (r.flags & kProtectionBit) != 0},
                {"password", FieldText(r.password)},
                {"extra_word1", uint16_t{r.extraWord1}},
                {"extra_word2", uint16_t{r.extraWord2}}};
}

bool ParseConnectionType(const json& t, uint16_t& type) {
    if (t.is_number_unsigned() && t.get<uint64_t>() <= 0xFFFF) {
        type = t.get<uint16_t>();
        return true;
    }
    if (!t.is_string()) return false;
    const std::string s = t.get<std::string>();
    for (uint16_t v = 0; v <= 4; ++v)
        if (s == ConnectionTypeName(v)) {
            type = v;
            return true;
        }
    // A type outside 0..4 is exported as its number, in text.
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long v = std::stoul(s);
    if (v > 0xFFFF) return false;
    type = static_cast<uint16_t>(v);
    return true;
}

void FromJson(const json& j, AddressRecord& r) {
    // "value" is the name older exports gave extra_value.
    Reader in(j, "address", {"id", "name", "address", "phone", "text1", "text2", "type", "extra_value", "value"});
    in.Text("name", r.name);
    in.Text("address", r.address);
    in.Text("phone", r.phoneNumber);
    in.Text("text1", r.extraText1);
    in.Text("text2", r.extraText2);
    r.extraValue = in.Number("value", r.extraValue);
    r.extraValue = in.Number("extra_value", r.extraValue);
    if (j.contains("type") && !ParseConnectionType(j["type"], r.connectionType))
        in.Bad("type", "is not modem, network, wireless, cable, unset or a number from 0 to 65535");
    r.size = sizeof r;
}

void FromJson(const json& j, SecurityEntry& r) {
    Reader in(j, "user", {"id", "name", "password", "extra_value", "extra_word", "extra_text"});
    in.Text("name", r.name);
    in.Text("password", r.password);
    r.extraValue = in.Number("extra_value", r.extraValue);
    r.extraWord = in.Number("extra_word", r.extraWord);
    in.Text("extra_text", r.extraText);
    r.size = sizeof r;
}

void FromJson(const json& j, AffixEntry& r) {
    Reader in(j, "prefix or suffix", {"id", "name", "text"});
    in.Text("name", r.name);
    in.Text("text", r.affixText);
    r.size = sizeof r;
}

void FromJson(const json& j, FolderSecurityEntry& r) {
    Reader in(j, "folder", {"id", "path", "extra_value", "extra_word"});
    in.Text("path", r.path);
    r.extraValue = in.Number("extra_value", r.extraValue);
    r.extraWord = in.Number("extra_word", r.extraWord);
    r.size = sizeof r;
}

std::string ToText(const AddressRecord& r) {
    std::string line = "#" + std::to_string(r.id) + "  " + FieldText(r.name) + "  address \"" +
                       FieldText(r.address) + "\"  " + ConnectionTypeName(r.connectionType);
    if (r.phoneNumber[0]) line += "  phone " + FieldText(r.phoneNumber);
    if (r.extraText1[0]) line += "  text1 \"" + FieldText(r.extraText1) + "\"";
    if (r.extraText2[0]) line += "  text2 \"" + FieldText(r.extraText2) + "\"";
    if (r.extraValue) line += "  extra-value " + std::to_string(r.extraValue);
    return line;
}

std::string ToText(const SecurityEntry& r) {
    std::string line = "#" + std::to_string(r.id) + "  " + FieldText(r.name) + "  password \"" +
                       FieldText(r.password) + "\"  extra-value " + std::to_string(r.extraValue) +
                       "  extra-word " + std::to_string(r.extraWord);
    if (r.extraText[0]) line += "  extra-text \"" + FieldText(r.extraText) + "\"";
    return line;
}

std::string ToText(const AffixEntry& r) {
    return "#" + std::to_string(r.id) + "  " + FieldText(r.name) + "  \"" + FieldText(r.affixText) + "\"";
}

std::string ToText(const FolderSecurityEntry& r) {
    return "#" + std::to_string(r.id) + "  " + FieldText(r.path) + "  extra-value " + std::to_string(r.extraValue) +
           "  extra-word " + std::to_string(r.extraWord);
}

std::string ToText(const GlobalSecurity& r) {
    return "mode         " + std::to_string(r.mode) + "\nflags        " + Hex(r.flags) +
           "\nprotection   " + ((r.flags & kProtectionBit) ? "on" : "off") + "\npassword     \"" +
           FieldText(r.password) + "\"\nextra-word1  " +
           std::to_string(r.extraWord1) + "\nextra-word2  " + std::to_string(r.extraWord2) + "\n";
}

}  // namespace kvidf
