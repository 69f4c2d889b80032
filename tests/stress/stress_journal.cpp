#include "stress/stress_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "support/test_support.h"

namespace kvi::stress {

JournalWriter::JournalWriter(const std::string& path) {
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd_ < 0) std::abort();
    // A life killed in the middle of a line left it unterminated.
    const std::string bytes = test::ReadFile(path);
    if (!bytes.empty() && bytes.back() != '\n') Append("\n");
}

JournalWriter::~JournalWriter() { close(fd_); }

void JournalWriter::Append(const std::string& line) {
    // One write per line: a kill cuts a line at worst, never mixes two.
    // A finished write outlives a SIGKILL of its writer, which is all the
    // check needs; no sync (the run simulates no system crash, and a sync
    // would double the time of every round).
    if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) std::abort();
}

void JournalWriter::Intent(uint32_t seq, Book book, Op op, uint32_t key) {
    char line[64];
    snprintf(line, sizeof line, "I %u %d %c %u\n", seq, static_cast<int>(book), static_cast<char>(op), key);
    Append(line);
}

void JournalWriter::Done(uint32_t seq, bool committed) {
    char line[32];
    snprintf(line, sizeof line, "%c %u\n", committed ? 'D' : 'F', seq);
    Append(line);
}

void JournalWriter::Recovered(Book book, const char* staleName) {
    Append("L " + std::to_string(static_cast<int>(book)) + " " + staleName + "\n");
}

void JournalWriter::RoundDone() { Append("R\n"); }

Journal ReadJournal(const std::string& path) {
    Journal j;
    std::istringstream in(test::ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) break;  // no newline: cut short by a kill
        std::istringstream f(line);
        char kind = 0;
        f >> kind;
        if (kind == 'I') {
            Intent i{};
            int book = 0;
            char op = 0;
            f >> i.seq >> book >> op >> i.key;
            if (!f) continue;
            i.book = static_cast<Book>(book);
            i.op = static_cast<Op>(op);
            i.outcome = '?';
            j.intents.push_back(i);
            if (i.key > j.maxKey) j.maxKey = i.key;
        } else if (kind == 'D' || kind == 'F') {
            uint32_t seq = 0;
            if (!(f >> seq)) continue;
            // seq is counted per book; the outcome belongs to the intent
            // written just before it.
            if (!j.intents.empty() && j.intents.back().seq == seq) j.intents.back().outcome = kind;
        } else if (kind == 'L') {
            int book = 0;
            std::string name;
            if (f >> book >> name && book >= 0 && book < kBooks) j.recovered[book].push_back(name);
        } else if (kind == 'R') {
            ++j.rounds;
        }
    }
    return j;
}

std::map<uint32_t, std::set<int64_t>> AllowedStates(const Journal& journal, Book book) {
    std::map<uint32_t, std::set<int64_t>> allowed;
    for (const Intent& i : journal.intents) {
        if (i.book != book) continue;
        auto found = allowed.find(i.key);
        if (found == allowed.end()) found = allowed.emplace(i.key, std::set<int64_t>{kAbsent}).first;
        const int64_t after = i.op == kDelete ? kAbsent : static_cast<int64_t>(i.seq);
        if (i.outcome == 'D') {
            found->second = {after};
        } else {
            found->second.insert(after);
        }
    }
    return allowed;
}

}  // namespace kvi::stress
