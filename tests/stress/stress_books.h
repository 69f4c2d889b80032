// The two books as a stress worker drives them, through the exports only
// (apart from the locker name, see StampLocker). An entry of slot s and
// key k is named "w<s>-k<k>"; its version (the seq of the commit that
// wrote it) is the address entry's phone number or the user's password.
#ifndef KVI_TESTS_STRESS_STRESS_BOOKS_H
#define KVI_TESTS_STRESS_STRESS_BOOKS_H

#include <cstdint>
#include <string>
#include <vector>

#include "stress/stress_journal.h"

namespace kvi::stress {

struct BookEntry {
    uint32_t id;
    std::string name;
    std::string version;
};

// Takes the book's lock with a null locker name, retrying until it is
// won (the security lock waits up to timeoutMs each time).
void LockBook(Book book, uint32_t timeoutMs);
// The locker name that the lock left in place: set only by a holder that
// died before its unlock cleared it. "" when the slot is empty.
std::string StaleLocker(Book book);
// Puts this holder's name into the book's locker slot, as a lock with a
// name would have done; kept apart so that StaleLocker can look first.
void StampLocker(Book book, const char* name);
void UnlockBook(Book book);

int OpenBook(Book book);
void CloseBook(Book book);
int CommitBook(Book book, uint32_t force);

// Every valid item of a list made from the open book; false when the list
// could not be read.
bool ReadEntries(Book book, std::vector<BookEntry>* entries);

std::string EntryName(int slot, uint32_t key);
// Slot and key of a name made by EntryName; false for any other name.
bool ParseEntryName(const std::string& name, int* slot, uint32_t* key);

// The export's result (1 when done); the add writes the new id.
int AddEntry(Book book, int slot, uint32_t key, uint32_t version, uint32_t* id);
int UpdateEntry(Book book, uint32_t id, int slot, uint32_t key, uint32_t version);
int DeleteEntry(Book book, uint32_t id);

// The earlier generation's address file ("KVI.DA1") and security file
// ("KVI.DA2"), holding the entries EntryName(9, 1..n).
std::string LegacyAddresses(uint32_t n);
std::string LegacyUsers(uint32_t n);

}  // namespace kvi::stress

#endif
