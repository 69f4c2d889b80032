#include "stress/stress_run.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "kviabdb.h"
#include "stress/stress_books.h"
#include "stress/stress_worker.h"

namespace kvi::stress {
namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string JournalPath(const test::TempWindowsDir& dir, int slot) {
    return dir.Path() + "/journal." + std::to_string(slot);
}

const char* BookFileName(Book book) { return book == kAddressBook ? "MERIDOX.PBK" : "MERIDOX.PWD"; }
const char* BookTitle(Book book) { return book == kAddressBook ? "address book" : "security book"; }

pid_t StartLife(const StressConfig& config, RunShared* shared, int slot, int life, const std::string& journal) {
    fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // A runner stopped by a timeout takes its workers with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        _exit(WorkerLife(config, shared, slot, life, journal));
    }
    return pid;
}

struct Slot {
    pid_t pid = -1;
    int life = 0;
    bool finished = false;
};

// Makes both books before the first worker starts (when the run asks for
// it; otherwise the workers' first opens create them).
bool CreateBooks() {
    return test::RunInChild([] {
               test::StartAsFreshProcess();
               if (KviDfInitialize() != 1) return 1;
               const int ok = KviDfOpenAddressBook(0) == 1 && KviDfOpenSecurityBook(nullptr) == 1;
               KviDfTerminate();
               return ok ? 0 : 2;
           }) == 0;
}

// Runs the workers, and the killer when asked, until every slot has done
// its rounds. Fills kills and the names of the lives that were killed.
void RunWorkers(const test::TempWindowsDir& dir, const StressConfig& config, RunShared* shared, StressResult* result,
                std::set<std::string>* killed) {
    std::vector<Slot> slots(config.processes);
    for (int s = 0; s < config.processes; ++s) {
        slots[s].pid = StartLife(config, shared, s, 0, JournalPath(dir, s));
    }
    std::mt19937 rng(12345);
    const Clock::time_point start = Clock::now();
    int running = config.processes;
    while (running > 0) {
        // Reap the lives that ended on their own.
        for (;;) {
            int status = 0;
            const pid_t pid = waitpid(-1, &status, WNOHANG);
            if (pid <= 0) break;
            for (int s = 0; s < config.processes; ++s) {
                if (slots[s].pid != pid) continue;
                slots[s].pid = -1;
                --running;
                if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
                    slots[s].finished = true;
                } else {
                    result->problems.push_back("worker " + LifeName(s, slots[s].life) + " ended with status " +
                                               std::to_string(status));
                    slots[s].finished = true;
                }
            }
        }
        if (Since(start) > config.deadlineSeconds) {
            result->problems.push_back("deadline passed: a lock was never recovered or the run is too slow");
            for (Slot& slot : slots) {
                if (slot.pid > 0) {
                    kill(slot.pid, SIGKILL);
                    waitpid(slot.pid, nullptr, 0);
                }
            }
            return;
        }
        const bool killing = config.kill && Since(start) < config.killSeconds;
        const int spanUs = config.killEveryMaxUs - config.killEveryMinUs + 1;
        usleep(killing ? config.killEveryMinUs + static_cast<int>(rng() % spanUs) : 2000);
        if (!killing) continue;

        // Every other kill waits (briefly) for a worker inside a commit.
        int victim = -1;
        const bool aimAtCommit = rng() % 2 == 0;
        const Clock::time_point aimStart = Clock::now();
        do {
            for (int k = 0; k < config.processes && victim < 0; ++k) {
                const int s = static_cast<int>((rng() + k) % config.processes);
                if (slots[s].pid <= 0) continue;
                if (!aimAtCommit || __atomic_load_n(&shared->phase[s], __ATOMIC_SEQ_CST) == kCommitting) victim = s;
            }
        } while (victim < 0 && aimAtCommit && Since(aimStart) < 0.003);
        if (victim < 0) continue;
        const bool inCommit = __atomic_load_n(&shared->phase[victim], __ATOMIC_SEQ_CST) == kCommitting;
        kill(slots[victim].pid, SIGKILL);
        int status = 0;
        waitpid(slots[victim].pid, &status, 0);
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
            ++result->kills;
            if (inCommit) ++result->killsInCommit;
            killed->insert(LifeName(victim, slots[victim].life));
        } else if (!(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            result->problems.push_back("worker " + LifeName(victim, slots[victim].life) + " ended with status " +
                                       std::to_string(status));
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            // It finished just before the signal.
            slots[victim].pid = -1;
            slots[victim].finished = true;
            --running;
            continue;
        }
        __atomic_store_n(&shared->phase[victim], kIdle, __ATOMIC_SEQ_CST);
        ++slots[victim].life;
        slots[victim].pid = StartLife(config, shared, victim, slots[victim].life, JournalPath(dir, victim));
    }
}

// The state the book holds for each key of each slot.
void CheckBook(Book book, const std::vector<Journal>& journals, StressResult* result) {
    std::vector<BookEntry> entries;
    if (!ReadEntries(book, &entries)) {
        result->problems.push_back(std::string("the ") + BookTitle(book) + " could not be listed");
        return;
    }
    // (slot, key) -> version held
    std::map<std::pair<int, uint32_t>, int64_t> held;
    std::set<uint32_t> ids;
    for (const BookEntry& e : entries) {
        int slot = -1;
        uint32_t key = 0;
        char* end = nullptr;
        const unsigned long version = std::strtoul(e.version.c_str(), &end, 10);
        if (!ids.insert(e.id).second || !ParseEntryName(e.name, &slot, &key) || slot < 0 ||
            slot >= static_cast<int>(journals.size()) || e.version.empty() || *end != '\0' ||
            !held.emplace(std::make_pair(slot, key), static_cast<int64_t>(version)).second) {
            ++result->unexpected;
            result->problems.push_back(std::string(BookTitle(book)) + " holds an entry no worker made: " + e.name +
                                       " " + e.version);
        }
    }
    for (int slot = 0; slot < static_cast<int>(journals.size()); ++slot) {
        for (const auto& [key, allowed] : AllowedStates(journals[slot], book)) {
            auto found = held.find({slot, key});
            const int64_t state = found == held.end() ? kAbsent : found->second;
            if (found != held.end()) held.erase(found);
            if (allowed.count(state)) continue;
            ++result->lost;
            result->problems.push_back(std::string(BookTitle(book)) + ": " + EntryName(slot, key) + " holds " +
                                       std::to_string(state) + ", not what its journal allows (last " +
                                       std::to_string(*allowed.rbegin()) + ")");
        }
    }
    for (const auto& [slotKey, version] : held) {
        ++result->unexpected;
        result->problems.push_back(std::string(BookTitle(book)) + " holds " + EntryName(slotKey.first, slotKey.second) +
                                   " " + std::to_string(version) + " that no journal names");
    }
}

// The commit that started last on a book (its intent has the highest
// seq): a temporary file may remain only when its worker died in it.
void Verify(const test::TempWindowsDir& dir, const StressConfig& config, const std::set<std::string>& killed,
            StressResult* result) {
    std::vector<Journal> journals;
    for (int s = 0; s < config.processes; ++s) journals.push_back(ReadJournal(JournalPath(dir, s)));
    for (int s = 0; s < config.processes; ++s) {
        const Journal& j = journals[s];
        if (j.rounds < config.rounds) {
            result->problems.push_back("worker slot " + std::to_string(s) + " did " + std::to_string(j.rounds) +
                                       " rounds");
        }
        for (const Intent& i : j.intents) {
            result->changes += i.outcome == 'D';
            result->failedCommits += i.outcome == 'F';
            result->uncertain += i.outcome == '?';
        }
        for (int b = 0; b < kBooks; ++b) {
            for (const std::string& name : j.recovered[b]) {
                ++result->recovered[b];
                if (!killed.count(name)) {
                    result->problems.push_back("locker name " + name + " was left by a worker that was not killed");
                }
            }
        }
    }
    if (result->failedCommits > 0) result->problems.push_back(std::to_string(result->failedCommits) + " commits failed");

    const std::string folder = dir.Path() + "/KVI32/";
    for (Book book : {kAddressBook, kSecurityBook}) {
        int temps = 0;
        std::error_code ec;
        for (const auto& f : std::filesystem::directory_iterator(folder, ec)) {
            const std::string name = f.path().filename().string();
            temps += name.rfind(BookFileName(book), 0) == 0 && name.size() > 4 &&
                     name.compare(name.size() - 4, 4, ".tmp") == 0;
        }
        // Every commit has a temporary file of its own; only a killed
        // writer's may remain (a later commit removes it after a minute).
        if (temps > 0 && killed.empty()) {
            result->problems.push_back(std::string("a temporary file of ") + BookFileName(book) +
                                       " remains though no worker was killed");
        }
    }

    // Every worker has ended: what they left is a minute old as far as
    // the sweep of the checker's commits is concerned.
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        const std::string path = file.path().string();
        const timeval old[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".tmp") == 0) utimes(path.c_str(), old);
    }

    test::StartAsFreshProcess();
    if (KviDfInitialize() != 1) {
        result->problems.push_back("the checker could not initialize");
        return;
    }
    for (Book book : {kAddressBook, kSecurityBook}) {
        if (OpenBook(book) != 1) {
            result->problems.push_back(std::string("the ") + BookTitle(book) + " does not open");
            continue;
        }
        CheckBook(book, journals, result);
        // The checker's own lock recovers one that the last victim held.
        LockBook(book, 5000);
        const std::string stale = StaleLocker(book);
        if (!stale.empty()) {
            ++result->recovered[book];
            if (!killed.count(stale)) result->problems.push_back("locker name " + stale + " left by a live worker");
        }
        if (CommitBook(book, 1) != 1) result->problems.push_back(std::string("the ") + BookTitle(book) + " does not commit");
        UnlockBook(book);
        CloseBook(book);
    }
    KviDfTerminate();
    // A successful commit removes what a killed one left (once it is a
    // minute old and nobody holds it).
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        const std::string name = file.path().filename().string();
        if (name != "MERIDOX.PBK" && name != "MERIDOX.PWD") result->problems.push_back("left in KVI32: " + name);
    }
}

}  // namespace

std::string StressResult::Line(const char* title) const {
    char line[512];
    snprintf(line, sizeof line,
             "%s: processes=%d rounds=%d changes=%d lost=%d unexpected=%d uncertain=%d failed_commits=%d "
             "kills=%d kills_in_commit=%d recovered_locks=%d+%d seconds=%.1f",
             title, processes, rounds, changes, lost, unexpected, uncertain, failedCommits, kills, killsInCommit,
             recovered[0], recovered[1], seconds);
    return line;
}

int DefaultRounds() {
    if (const char* env = std::getenv("KVI_STRESS_ROUNDS")) {
        const int n = std::atoi(env);
        if (n > 0) return n;
    }
    return KVI_STRESS_DEFAULT_ROUNDS;
}

StressResult RunStress(const test::TempWindowsDir& dir, const StressConfig& config) {
    StressResult result;
    result.processes = config.processes;
    result.rounds = config.rounds;
    const Clock::time_point start = Clock::now();
    if (config.processes < 1 || config.processes > kMaxProcesses) {
        result.problems.push_back("bad process count");
        return result;
    }
    if (config.createBooksFirst && !CreateBooks()) {
        result.problems.push_back("the books could not be created");
        return result;
    }
    void* map = mmap(nullptr, sizeof(RunShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) {
        result.problems.push_back("no shared memory");
        return result;
    }
    auto* shared = new (map) RunShared{};
    std::set<std::string> killed;
    RunWorkers(dir, config, shared, &result, &killed);
    munmap(map, sizeof(RunShared));
    Verify(dir, config, killed, &result);
    result.seconds = Since(start);
    return result;
}

}  // namespace kvi::stress
