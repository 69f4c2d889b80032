// The books hold Windows-1252 text; kvidf talks UTF-8 (command line, JSON,
// terminal). Every text crosses here, so a name never reaches a book as raw
// UTF-8 bytes and never reaches the JSON writer as bytes it cannot encode.
#ifndef KVIDF_TEXT_1252_H
#define KVIDF_TEXT_1252_H

#include <optional>
#include <string>

namespace kvidf {

// The 1252 bytes of a UTF-8 text; nullopt when the text is not valid UTF-8
// or holds a character 1252 has no byte for (why says which).
std::optional<std::string> Utf8To1252(const std::string& utf8, std::string* why = nullptr);
// Always succeeds: every byte has a character (the five bytes 1252 leaves
// unassigned map to the C1 controls, as Windows does, and back).
std::string Utf8From1252(const std::string& bytes);

}  // namespace kvidf

#endif
