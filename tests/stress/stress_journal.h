// What a stress worker tells the checker: one journal file per worker
// slot, appended line by line, kept across the slot's lives.
//
//   I <seq> <book> <op> <key>   intent, written before the commit; the
//                               entry's version is <seq>
//   D <seq>                     the commit returned 1 (written before the
//                               unlock, so it precedes every later holder)
//   F <seq>                     the commit returned 0
//   L <book> <name>             the lock was won with a locker name still
//                               in its slot: a holder died holding it
//   R                           a round on both books is finished
//
// A killed life may leave an intent without D or F, and a last line cut
// short; a later life starts on a line of its own.
#ifndef KVI_TESTS_STRESS_STRESS_JOURNAL_H
#define KVI_TESTS_STRESS_STRESS_JOURNAL_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace kvi::stress {

enum Book { kAddressBook = 0, kSecurityBook = 1 };
constexpr int kBooks = 2;
enum Op : char { kAdd = 'A', kUpdate = 'U', kDelete = 'X' };

class JournalWriter {
public:
    explicit JournalWriter(const std::string& path);
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    void Intent(uint32_t seq, Book book, Op op, uint32_t key);
    void Done(uint32_t seq, bool committed);
    void Recovered(Book book, const char* staleName);
    void RoundDone();

private:
    void Append(const std::string& line);
    int fd_;
};

struct Intent {
    uint32_t seq;
    Book book;
    Op op;
    uint32_t key;
    char outcome;  // 'D' done, 'F' failed, '?' the worker died first
};

struct Journal {
    std::vector<Intent> intents;  // in the order written
    int rounds = 0;
    uint32_t maxKey = 0;
    std::vector<std::string> recovered[kBooks];  // stale locker names seen
};

Journal ReadJournal(const std::string& path);

// An entry's state: absent, or present with the version (a commit's seq).
constexpr int64_t kAbsent = -1;

// What the book may hold for each key of one slot, from its journal: a
// done change fixes the state, an intent without outcome adds its result
// to the states that were possible before it.
std::map<uint32_t, std::set<int64_t>> AllowedStates(const Journal& journal, Book book);

}  // namespace kvi::stress

#endif
