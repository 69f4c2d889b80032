#include "stress/stress_worker.h"

#include <time.h>
#include <unistd.h>

#include <random>
#include <vector>

#include "kviabdb.h"
#include "stress/stress_books.h"
#include "support/test_support.h"

namespace kvi::stress {
namespace {

// Exit codes of a life that went wrong.
enum Failure {
    kInitFailed = 20,
    kOpenFailed = 21,
    kListFailed = 22,
    kAddFailed = 23,
    kUpdateFailed = 24,
    kDeleteFailed = 25,
};

struct Own {
    uint32_t key;
    uint32_t id;
};

int Cycle(const StressConfig& config, RunShared* shared, int slot, const std::string& name, Book book,
          JournalWriter& journal, uint32_t* nextKey, std::mt19937& rng) {
    LockBook(book, config.lockTimeoutMs);
    __atomic_store_n(&shared->phase[slot], kHolding, __ATOMIC_SEQ_CST);
    const std::string stale = StaleLocker(book);
    if (!stale.empty()) journal.Recovered(book, stale.c_str());
    StampLocker(book, name.c_str());
    if (OpenBook(book) != 1) return kOpenFailed;

    // The book itself says which of this slot's entries exist: a life
    // killed around its commit does not know whether the commit happened.
    std::vector<BookEntry> entries;
    if (!ReadEntries(book, &entries)) return kListFailed;
    std::vector<Own> own;
    for (const BookEntry& e : entries) {
        int s = -1;
        uint32_t key = 0;
        if (ParseEntryName(e.name, &s, &key) && s == slot) own.push_back({key, e.id});
    }

    Op op = kAdd;
    const int n = static_cast<int>(own.size());
    const int pick = static_cast<int>(rng() % 100);
    if (n >= config.maxOwnEntries) {
        op = pick < 60 ? kUpdate : kDelete;
    } else if (n > 0) {
        op = pick < 40 ? kAdd : pick < 75 ? kUpdate : kDelete;
    }
    const uint32_t seq = __atomic_add_fetch(&shared->seq[book], 1, __ATOMIC_SEQ_CST);
    uint32_t key = 0;
    if (op == kAdd) {
        key = (*nextKey)++;
        uint32_t id = 0;
        if (AddEntry(book, slot, key, seq, &id) != 1) return kAddFailed;
    } else {
        const Own& target = own[rng() % own.size()];
        key = target.key;
        if (op == kUpdate && UpdateEntry(book, target.id, slot, key, seq) != 1) return kUpdateFailed;
        if (op == kDelete && DeleteEntry(book, target.id) != 1) return kDeleteFailed;
    }

    journal.Intent(seq, book, op, key);
    __atomic_store_n(&shared->phase[slot], kCommitting, __ATOMIC_SEQ_CST);
    const bool committed = CommitBook(book, 0) == 1;
    __atomic_store_n(&shared->phase[slot], kHolding, __ATOMIC_SEQ_CST);
    journal.Done(seq, committed);
    UnlockBook(book);
    __atomic_store_n(&shared->phase[slot], kIdle, __ATOMIC_SEQ_CST);
    CloseBook(book);
    return 0;
}

}  // namespace

std::string LifeName(int slot, int life) { return "w" + std::to_string(slot) + "g" + std::to_string(life); }

int WorkerLife(const StressConfig& config, RunShared* shared, int slot, int life, const std::string& journalPath) {
    test::StartAsFreshProcess();
    if (KviDfInitialize() != 1) return kInitFailed;
    JournalWriter journal(journalPath);
    const Journal past = ReadJournal(journalPath);
    // Keys are never used twice, not even one whose add a kill left open.
    uint32_t nextKey = past.maxKey + 1;
    std::mt19937 rng(static_cast<uint32_t>(slot * 7919 + life * 104729) ^ static_cast<uint32_t>(time(nullptr)));
    const std::string name = LifeName(slot, life);
    for (int round = past.rounds; round < config.rounds; ++round) {
        for (Book book : {kAddressBook, kSecurityBook}) {
            const int r = Cycle(config, shared, slot, name, book, journal, &nextKey, rng);
            if (r != 0) return r;
            if (config.maxPauseUs > 0) usleep(rng() % static_cast<uint32_t>(config.maxPauseUs));
        }
        journal.RoundDone();
    }
    KviDfTerminate();
    return 0;
}

}  // namespace kvi::stress
