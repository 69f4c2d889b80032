// The address book's work done by SQLite in its default durable mode
// (synchronous=FULL, rollback journal in DELETE mode), beside the library
// doing the same: loading 800 rows into memory, inserting 800 rows with a
// uniqueness check on (type, address) in one transaction and committing,
// reading one row by id. Built only where SQLite is installed.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kviabdb.h"
#include "paired.h"

namespace {

constexpr int kRows = 800;

std::string TempDir() { return kvi::bench::MakeBenchDirectory("kvibench-sqlite"); }

void Exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s: %s\n", sql, error ? error : "?");
        abort();
    }
}

sqlite3* Connect(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) abort();
    // The defaults, said out loud: every commit is synced, through a
    // rollback journal that is deleted afterwards.
    Exec(db, "PRAGMA synchronous=FULL; PRAGMA journal_mode=DELETE;");
    return db;
}

void CreateTable(sqlite3* db) {
    Exec(db,
         "CREATE TABLE IF NOT EXISTS address ("
         " id INTEGER PRIMARY KEY, name TEXT NOT NULL, address TEXT NOT NULL, phone TEXT NOT NULL,"
         " text1 TEXT NOT NULL, text2 TEXT NOT NULL, type INTEGER NOT NULL, value INTEGER NOT NULL,"
         " UNIQUE (type, address))");
}

sqlite3_stmt* Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) abort();
    return st;
}

// Inserts the rows in one transaction and commits; a duplicate fails the
// insert (the uniqueness check), which the benchmark never expects.
void InsertAll(sqlite3* db, const std::vector<AddressRecord>& rows) {
    sqlite3_stmt* st = Prepare(db,
                               "INSERT INTO address (name, address, phone, text1, text2, type, value)"
                               " VALUES (?, ?, ?, ?, ?, ?, ?)");
    Exec(db, "BEGIN");
    for (const AddressRecord& e : rows) {
        sqlite3_bind_text(st, 1, e.name, -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 2, e.address, -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 3, e.phoneNumber, -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 4, e.extraText1, -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 5, e.extraText2, -1, SQLITE_STATIC);
        sqlite3_bind_int(st, 6, e.connectionType);
        sqlite3_bind_int64(st, 7, e.extraValue);
        if (sqlite3_step(st) != SQLITE_DONE) abort();
        sqlite3_reset(st);
    }
    Exec(db, "COMMIT");
    sqlite3_finalize(st);
}

void CopyText(char* field, size_t size, sqlite3_stmt* st, int column) {
    const unsigned char* text = sqlite3_column_text(st, column);
    std::snprintf(field, size, "%s", text ? reinterpret_cast<const char*>(text) : "");
}

// One row into the library's record, as a client of either would want it.
void ReadRow(sqlite3_stmt* st, AddressRecord* e) {
    std::memset(e, 0, sizeof *e);
    e->size = sizeof *e;
    e->id = static_cast<uint32_t>(sqlite3_column_int64(st, 0));
    CopyText(e->name, sizeof e->name, st, 1);
    CopyText(e->address, sizeof e->address, st, 2);
    CopyText(e->phoneNumber, sizeof e->phoneNumber, st, 3);
    CopyText(e->extraText1, sizeof e->extraText1, st, 4);
    CopyText(e->extraText2, sizeof e->extraText2, st, 5);
    e->connectionType = static_cast<uint16_t>(sqlite3_column_int(st, 6));
    e->extraValue = static_cast<uint32_t>(sqlite3_column_int64(st, 7));
}

constexpr const char* kSelect = "SELECT id, name, address, phone, text1, text2, type, value FROM address";

// A database file with the 800 rows, made once.
const std::string& FilledDatabase() {
    static const std::string path = [] {
        const std::string p = TempDir() + "/address.db";
        sqlite3* db = Connect(p);
        CreateTable(db);
        std::vector<AddressRecord> rows;
        for (int i = 0; i < kRows; ++i) rows.push_back(kvi::bench::TypicalAddress(i));
        InsertAll(db, rows);
        sqlite3_close(db);
        return p;
    }();
    return path;
}

// The rows of an insert: typical entries (names and addresses that differ
// early), or entries whose names share a 20-character prefix and whose
// addresses share 16 of their 20.
std::vector<AddressRecord> Rows(bool sharedPrefix) {
    std::vector<AddressRecord> rows;
    for (int i = 0; i < kRows; ++i) {
        AddressRecord e = kvi::bench::TypicalAddress(i);
        if (sharedPrefix) {
            std::snprintf(e.name, sizeof e.name, "Regional branch no. %04d", i);
            std::snprintf(e.address, sizeof e.address, "branch.example.n%04d", i);
        }
        rows.push_back(e);
    }
    return rows;
}

// The target: 800 adds to an empty address book (each checks its type and
// address against the book) and a commit, beside SQLite's 800 inserts into
// an empty table in one transaction, committed; in alternation. Emptying
// the book (its file removed, the book opened again) and the table is not
// timed.
void BM_PairedInsert800Commit(benchmark::State& state) {
    const std::string dir = TempDir();
    setenv("KVI_WINDOWS_DIR", dir.c_str(), 1);
    char locker[] = "bench";
    KviDfInitialize();
    KviDfCloseAddressBook();
    if (KviDfOpenAddressBook(0) != 1 || KviDfLockAddressBook(locker) != 1) abort();
    const std::string book = dir + "/KVI32/MERIDOX.PBK";
    std::vector<AddressRecord> rows = Rows(state.range(0) != 0);
    sqlite3* db = Connect(dir + "/insert.db");
    CreateTable(db);
    kvi::bench::MeasurePair(state,
                            kvi::bench::MakeSide(
                                1,
                                [&book] {
                                    KviDfCloseAddressBook();
                                    std::remove(book.c_str());
                                    if (KviDfOpenAddressBook(0) != 1) abort();
                                },
                                [&rows] {
                                    for (auto& e : rows)
                                        if (KviDfAddAddress(&e, 0, nullptr) != 1) abort();
                                    if (KviDfCommitAddressBook(0) != 1) abort();
                                }),
                            kvi::bench::MakeSide(
                                1, [db] { Exec(db, "DELETE FROM address"); }, [db, &rows] { InsertAll(db, rows); }));
    sqlite3_close(db);
    KviDfCloseAddressBook();
    KviDfUnlockAddressBook();
    KviDfTerminate();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}
BENCHMARK(BM_PairedInsert800Commit)->Arg(0)->Arg(1)->UseManualTime();

// Connect, read every row into memory, disconnect: what opening a book is.
void BM_SqliteLoad800(benchmark::State& state) {
    const std::string& path = FilledDatabase();
    std::vector<AddressRecord> rows(kRows);
    for (auto _ : state) {
        sqlite3* db = Connect(path);
        sqlite3_stmt* st = Prepare(db, kSelect);
        size_t n = 0;
        while (sqlite3_step(st) == SQLITE_ROW && n < rows.size()) ReadRow(st, &rows[n++]);
        sqlite3_finalize(st);
        sqlite3_close(db);
        if (n != kRows) abort();
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(BM_SqliteLoad800);

// One row by id through a prepared statement on an open connection.
void BM_SqliteGetById(benchmark::State& state) {
    sqlite3* db = Connect(FilledDatabase());
    sqlite3_stmt* st = Prepare(db, "SELECT id, name, address, phone, text1, text2, type, value FROM address WHERE id = ?");
    AddressRecord e;
    int64_t id = 0;
    for (auto _ : state) {
        sqlite3_bind_int64(st, 1, id % kRows + 1);
        ++id;
        if (sqlite3_step(st) != SQLITE_ROW) abort();
        ReadRow(st, &e);
        sqlite3_reset(st);
        benchmark::DoNotOptimize(e);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
}
BENCHMARK(BM_SqliteGetById);

}  // namespace
