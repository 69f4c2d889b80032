// BookFile: what both books share. It locates the book file, creates or
// opens it, keeps the header and directory, runs the opening sequence and
// the commit protocol, keeps the book password, and lets a password change
// reach every book of the process.
//
// States (flags modified / headerModified):
//   constructed     0/0, no header, directory or file object
//   new file        1/1  CreateOrOpen created the (empty) file
//   opened          0/0  CreateOrOpen opened an existing file; a full commit
//   header changed  -/1  SetHeaderModified(1), or a SetPassword whose write failed
//   records changed 1/-  SetModified(1) after an add, update or delete
//
// Invariants:
//  1. The book file is only ever replaced whole: a full commit writes the
//     complete new file to "<book>.tmp" in the same folder, flushes it and
//     renames it over the book (KvioReplace). A failure at any step leaves
//     the old book as it was, removes the temporary file and keeps the
//     flags, so the next commit tries again. A temporary file left by a
//     killed process is emptied and reused by the next commit.
//  2. A load reads one version of the file: after the second open (for the
//     sections) the header and directory must still be the bytes that
//     CreateOrOpen read, otherwise the whole load starts again (a few
//     times at most).
//  3. The only write in place is the header-only commit (a password
//     change). It writes this book's header and directory only when the
//     file still holds the version this book last read or wrote and
//     nothing else is pending; otherwise it puts just the password into
//     the file's own header, so that a stale or grown directory never
//     lands on a newer file or on section bytes.
//  4. Directory entries whose type the book does not know (or a second
//     entry of a known type) are kept by a full commit, emptied: length 0,
//     count 0, offset at the end of the data. Their bytes are never read.
#ifndef KVI_STORAGE_BOOK_FILE_H
#define KVI_STORAGE_BOOK_FILE_H

#include <cstdint>
#include <vector>

#include "storage/df_format.h"
#include "storage/io_file.h"

namespace kvi {

// Holds the Windows folder (at most 143 characters), a backslash,
// "KVI32\", the file name, ".tmp" and the NUL.
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
    // HasInPlaceChange(): in place (invariant 3); else nothing, no file
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

    // Opens the existing file (checking its book tag) or creates an empty
    // one; reads header and directory and closes the file again. The
    // directory gets room for spareEntries more entries.
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
    // one spare entry per section type, the types of a new file, then
    // ArrangeDirectory, open, the version check of invariant 2,
    // LoadSections, close; for a new file ImportLegacy and Commit(1). On
    // failure everything is released (ReleaseSections included) and a file
    // created by this load is deleted again. 1 or 0.
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
    // Reads every section from the open file (BoundEntry gives the
    // entries). Must stay within the entries' bytes; 1 or 0.
    virtual int LoadSections(IoFile& file) = 0;
    // Frees the tables and every record in them (also a partial load).
    virtual void ReleaseSections() = 0;
    // Fills a newly created book; its result is ignored.
    virtual int ImportLegacy() { return 0; }

    // --- Hooks of the commit ---
    // True when a commit without `modified` must still write in place
    // (the security book's changed global record).
    virtual bool HasInPlaceChange() const { return false; }
    // Runs right after the file is created (full: the temporary file) or
    // opened in place, before the first header write. The security book
    // writes its global record here. 1 or 0.
    virtual int WriteBeforeHeader(IoFile& /*file*/, int /*full*/) { return 1; }
    // Full commit only: writes every section from dataOffset on, one after
    // another, storing offset, count and length in the bound entries, and
    // sets *end to the position after the last byte written. 1 or 0.
    virtual int WriteSections(IoFile& file, uint32_t dataOffset, uint32_t* end) = 0;

private:
    enum LoadResult { kLoadFailed = 0, kLoaded = 1, kFileChanged = 2 };
    LoadResult LoadOnce();
    // Releases header, directory, file object and sections.
    void ReleaseAll();
    int CommitFull(int force);
    int CommitInPlace();
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
};

}  // namespace kvi

#endif
