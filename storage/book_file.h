// BookFile: what both books share. It locates the book file, reads it or
// makes a new book, keeps the header and directory, runs the opening
// sequence and the commit protocol, keeps the book password, and lets a
// password change reach every book of the process.
//
// States (flags modified / headerModified):
//   constructed     0/0, no header, directory or file object
//   new book        1/1  CreateOrOpen found no book: header and directory
//                        exist in memory only, nothing is at the book's name
//   opened          0/0  CreateOrOpen read an existing file; a full commit
//   header changed  -/1  SetHeaderModified(1), or a SetPassword whose write failed
//   records changed 1/-  SetModified(1) after an add, update or delete, or a
//                        load that numbered records the file kept without ids
//
// Invariants:
//  1. The book file is only ever replaced whole: a full commit writes the
//     complete new file to a temporary file of its own beside the book
//     (made exclusively, with the book's mode and owner), flushes it and
//     renames it over the book (KvioReplace). A failure at any step leaves
//     the old book as it was, removes the temporary file and puts the
//     in-memory header, directory and flags back as they were, so the next
//     commit tries again from the same state.
//  2. A new book appears whole or not at all, and once: nothing is at its
//     name until the load's first commit puts the complete book there only
//     if no book is there yet (KvioPlace). A creator that comes second
//     drops its new book and loads the first one's. A 0-byte file at the
//     name holds no book and counts as absent. Only a file that does not
//     exist leads to a new book; any other failure to open it touches
//     nothing. No path deletes a book file.
//  3. The legacy file goes only once the book holding its entries is in
//     place; a failed first commit leaves it for the next open.
//  4. A load opens the file once, reads it whole and decodes from memory:
//     one version of the file by construction.
//  5. The writes in place (a password change; a commit in which only the
//     header or the security book's global record changed) read the file's
//     header and directory through the handle they write with and never
//     write a directory: only the password into the file's own header, and
//     the global record where that file's directory puts it when the file
//     is still the version this book last read or wrote.
//  6. Directory entries whose type the book does not know (or a second
//     entry of a known type) are kept by a full commit, emptied: length 0,
//     count 0, offset at the end of the data. Their bytes are never read.
#ifndef KVI_STORAGE_BOOK_FILE_H
#define KVI_STORAGE_BOOK_FILE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "storage/df_format.h"
#include "storage/io_file.h"

namespace kvi {

// Holds the Windows folder (at most 143 characters), a backslash,
// "KVI32\", the file name and the NUL.
constexpr uint32_t kBookPathSize = 192;
constexpr int kMaxSectionTypes = 8;

class BookFile {
public:
    // fileName and bookTag are constants of the book ("MERIDOX.PBK",
    // "^*($"). Registers the book for password changes.
    BookFile(const char* fileName, const char* bookTag);
    virtual ~BookFile();  // destroys the file object; never commits
    BookFile(const BookFile&) = delete;
    BookFile& operator=(const BookFile&) = delete;

    virtual int SetModified(int value);
    virtual int SetHeaderModified(int value);
    // force or modified: full commit (invariant 1); else headerModified or
    // HasInPlaceChange(): in place (invariant 5); else nothing, no file
    // access. A book whose load failed (no header) is never written: 0.
    virtual int Commit(int force);
    // Checks the current password (case-insensitive) when a password is
    // in force, stores the new one (cut to 15 characters) and writes the
    // header in place at once. A null new password, or a null current
    // one while a password is in force, is refused.
    virtual int SetPassword(const char* newPassword, uint16_t flag, const char* currentPassword);
    // buffer must hold PasswordLength() + 1 bytes (at most 16).
    virtual int GetPassword(char* buffer, uint32_t* flag);
    // Characters of the stored password (at most 15); 0 without a header.
    uint32_t PasswordLength() const;
    virtual DfHeader* Header();
    virtual DfDirectoryEntry* Directory();
    virtual IoFile* File();
    // Puts the book's section types first, in its order (adding missing
    // ones); most books call ArrangeDirectoryFor.
    virtual void ArrangeDirectory() = 0;

    // Reads the existing file whole (checking its book tag) into the load
    // image, or, when there is no book (invariant 2), sets up a new one in
    // memory only (both flags 1). The directory gets room for spareEntries
    // more entries. 1 or 0.
    int CreateOrOpen(int spareEntries);
    // DIR\KVI32\<file name> into a buffer of kBookPathSize bytes.
    int BuildPath(char* buffer) const;
    // Header and directory at offset 0 of an open file, when modified,
    // headerModified or force; clears headerModified.
    int WriteHeader(IoFile& file, int force);

    // SetPassword on every registered book; always 1.
    static int NotifyPasswordChange(const char* newPassword, uint16_t flag, const char* currentPassword);

    int Modified() const { return modified_; }
    int HeaderModified() const { return headerModified_; }

protected:
    // The opening sequence of a book: PrepareSections, CreateOrOpen with
    // one spare entry per section type, the types of a new book, then
    // ArrangeDirectory and LoadSections from the image; for a new book
    // ImportLegacy, Commit(1) (which places it, invariant 2) and the
    // deletion of the legacy file (invariant 3). On failure everything is
    // released (ReleaseSections included); no file is deleted. 1 or 0.
    int LoadBook();

    // Runs the arrangement for the book's types and remembers, per type,
    // the last entry of that type (BoundEntry).
    void ArrangeDirectoryFor(const uint16_t* types, int count);
    DfDirectoryEntry* BoundEntry(int i) const { return bound_[i]; }

    // --- Hooks of the opening sequence ---
    // The book's section types, in its order (at most kMaxSectionTypes).
    virtual int SectionTypeCount() const = 0;
    virtual const uint16_t* SectionTypes() const = 0;
    // Makes the book's empty tables; 1 or 0. Called before every attempt.
    virtual int PrepareSections() = 0;
    // Decodes every section from the file's bytes (image, size; BoundEntry
    // gives the entries). Must stay within the entries' bytes, which the
    // book checks against size; 1 or 0.
    virtual int LoadSections(const uint8_t* image, uint32_t size) = 0;
    // Frees the tables and every record in them (also a partial load).
    virtual void ReleaseSections() = 0;
    // Fills a new book. When the legacy file was read whole, its path goes
    // into legacyDone (kLegacyPathSize bytes) so the load deletes it once
    // the book is committed; otherwise legacyDone stays empty.
    virtual void ImportLegacy(char* /*legacyDone*/) {}
    // True for a book whose new file gives others no access.
    virtual bool PrivateFile() const { return false; }

    // --- Hooks of the commit ---
    // True when a commit without `modified` must still write in place
    // (the security book's changed global record).
    virtual bool HasInPlaceChange() const { return false; }
    // Full commit: runs right after the temporary file is created, before
    // the first header write (the security book writes its global record).
    virtual int WriteBeforeHeader(IoFile& /*file*/) { return 1; }
    // In-place commit of HasInPlaceChange(), on the file opened for reading
    // and writing whose header and directory are onDisk: kInPlaceDone,
    // kInPlaceFailed, or kInPlaceNeedsFull when that file cannot take it in
    // place (nothing written then).
    virtual int WriteInPlace(IoFile& /*file*/, const std::vector<uint8_t>& /*onDisk*/) { return kInPlaceDone; }
    // Header and directory as the file held them when this book last read
    // or wrote it (empty before).
    const std::vector<uint8_t>& FileVersion() const { return fileVersion_; }
    enum InPlaceResult { kInPlaceFailed = 0, kInPlaceDone = 1, kInPlaceNeedsFull = 2 };
    // Full commit only: writes every section from dataOffset on, one after
    // another, storing offset, count and length in the bound entries, and
    // sets *end to the position after the last byte written. 1 or 0.
    virtual int WriteSections(IoFile& file, uint32_t dataOffset, uint32_t* end) = 0;

public:
    static constexpr uint32_t kLegacyPathSize = 300;

private:
    enum LoadResult { kLoadFailed = 0, kLoaded = 1, kBookAppeared = 2 };
    LoadResult LoadOnce();
    // Releases header, directory, file object, image and sections.
    void ReleaseAll();
    int CommitFull(int force);
    // withSections: also what HasInPlaceChange() reports (a commit); a
    // password change writes only the password. An InPlaceResult.
    int CommitInPlace(bool withSections);
    // Reads header and directory raw from an open file; false on failure.
    bool ReadHeaderBytes(IoFile& file, std::vector<uint8_t>& bytes);
    void RememberFileVersion();
    void EmptyUnboundEntries(uint32_t end);

    const char* fileName_;
    const char* bookTag_;
    const char* commonTag_;
    DfHeader* header_;
    DfDirectoryEntry* directory_;
    uint32_t directoryCapacity_;  // entries allocated: entryCount + spare
    int modified_;
    int headerModified_;
    IoFile* file_;
    DfDirectoryEntry* bound_[kMaxSectionTypes];
    // Header and directory as the file holds them in the version this book
    // last read or wrote (empty for a file not written yet).
    std::vector<uint8_t> fileVersion_;
    // The file's bytes, kept from a load while its sections last: their
    // records are decoded from it on first use. Not a vector: the read
    // fills every byte, so none is zeroed first.
    std::unique_ptr<uint8_t[]> image_;
    uint32_t imageSize_ = 0;
    // Set while the load's first commit of a new book runs: it places the
    // book (invariant 2) instead of replacing one; placeFoundBook_ tells
    // that another book was there first, placeNotDurable_ that the folder
    // could not be synced after the book was placed.
    bool creating_;
    bool placeFoundBook_;
    bool placeNotDurable_;
};

}  // namespace kvi

#endif
