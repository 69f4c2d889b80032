// kvidf address export --csv [--output FILE]; kvidf address import --csv FILE|-
// The address book in the common format of phone books: one header line
// naming the columns, then one line per entry, fields quoted as RFC 4180
// says (a field with a comma, a quote or a line break is quoted, its quotes
// doubled; lines end with CRLF). Import reads the columns by their header,
// refuses one it does not know, and adds the entries as import does.
#include <iostream>
#include <memory>

#include "book_image.h"
#include "commands.h"
#include "exit_codes.h"
#include "records.h"
#include "session.h"

namespace kvidf {

namespace {

const std::vector<std::string> kColumns{"id", "name", "address", "phone", "text1", "text2", "type", "extra_value"};

std::string Quote(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string out = "\"";
    for (char c : field) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string Cell(const json& v) { return v.is_string() ? v.get<std::string>() : v.dump(); }

// RFC 4180 records; a quoted field may hold commas, quotes and line breaks.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text, const std::string& name) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, wasQuoted = false;
    size_t line = 1;
    auto endField = [&] {
        row.push_back(field);
        field.clear();
        wasQuoted = false;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') field += '"', ++i;
            else if (c == '"') quoted = false;
            else field += c, line += c == '\n';
        } else if (c == '"') {
            if (!field.empty() || wasQuoted)
                throw Failure(kFileError, name + " line " + std::to_string(line) + ": a quote inside an unquoted field");
            quoted = wasQuoted = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            endField();
            rows.push_back(row);
            row.clear();
            ++line;
        } else {
            if (wasQuoted)
                throw Failure(kFileError, name + " line " + std::to_string(line) + ": text after a closing quote");
            field += c;
        }
    }
    if (quoted) throw Failure(kFileError, name + ": a quoted field is not closed");
    if (!field.empty() || !row.empty() || wasQuoted) {
        endField();
        rows.push_back(row);
    }
    return rows;
}

void ExportCsv(const std::string& output) {
    std::string text;
    for (size_t i = 0; i < kColumns.size(); ++i) text += (i ? "," : "") + kColumns[i];
    text += "\r\n";
    for (const json& e : ReadForCsv()) {
        for (size_t i = 0; i < kColumns.size(); ++i) text += (i ? "," : "") + Quote(Cell(e[kColumns[i]]));
        text += "\r\n";
    }
    if (output.empty() || output == "-") {
        std::cout << text;
        return;
    }
    ReplaceFile(output, std::vector<uint8_t>(text.begin(), text.end()), 0600, false);
    Print(json{{"written", output}}, "written to " + output);
}

void ImportCsv(const std::string& path) {
    const std::string name = path == "-" ? "standard input" : path;
    std::string text;
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        const std::vector<uint8_t> bytes = ReadFileBytes(path);
        text.assign(bytes.begin(), bytes.end());
    }
    const auto rows = ParseCsv(text, name);
    if (rows.empty()) throw Failure(kFileError, name + " has no header line");
    const std::vector<std::string>& header = rows.front();
    for (const std::string& column : header) {
        bool known = false;
        for (const std::string& k : kColumns) known = known || k == column;
        if (!known)
            throw Failure(kFileError, name + ": the column \"" + column +
                                          "\" is not one of id, name, address, phone, text1, text2, type, extra_value");
    }
    json entries = json::array();
    for (size_t r = 1; r < rows.size(); ++r) {
        if (rows[r].size() == 1 && rows[r][0].empty()) continue;  // a blank line
        if (rows[r].size() != header.size())
            throw Failure(kFileError, name + " record " + std::to_string(r) + " has " + std::to_string(rows[r].size()) +
                                          " fields; the header names " + std::to_string(header.size()));
        json e = json::object();
        for (size_t c = 0; c < header.size(); ++c) {
            const std::string& v = rows[r][c];
            if (header[c] == "id") continue;  // the book gives ids
            if (header[c] == "extra_value") {
                if (v.empty()) continue;
                if (v.size() > 10 || v.find_first_not_of("0123456789") != std::string::npos || std::stoull(v) > 0xFFFFFFFFull)
                    throw Failure(kFileError, name + " record " + std::to_string(r) + ": extra_value \"" + v +
                                                  "\" is not a number from 0 to 4294967295");
                e["extra_value"] = std::stoul(v);
            } else if (header[c] == "type") {
                if (!v.empty()) e["type"] = v;
            } else {
                e[header[c]] = v;
            }
        }
        entries.push_back(e);
    }
    ImportEntries(entries, name);
}

}  // namespace

void AddCsvCommands(CLI::App& address) {
    auto output = std::make_shared<std::string>();
    CLI::App* exp = address.add_subcommand("export", "write the entries as CSV (RFC 4180, with a header line)");
    exp->add_flag("--csv", "CSV (the one format of this command)")->required();
    exp->add_option("--output", *output, "file to write (mode 0600; default: standard output)");
    OnRun(exp, [output] { ExportCsv(*output); });

    auto file = std::make_shared<std::string>();
    CLI::App* imp = address.add_subcommand("import", "add the entries of a CSV file (ids given by the book)");
    imp->add_flag("--csv", "CSV (the one format of this command)")->required();
    imp->add_option("FILE", *file, "CSV file with a header line, or - for standard input")->required();
    OnRun(imp, [file] { ImportCsv(*file); });
}

}  // namespace kvidf
