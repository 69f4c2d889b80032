/*
 * KVIABDB: the address book and the security book of the remote-connection
 * product. Public C interface: 63 exports and the five record structures.
 *
 * Results: 1 success, 0 failure unless noted. Add functions also return 2
 * (table full: 800 entries) and 3 (duplicate name or address); update
 * functions 3. KviDfAffixListIndexOf returns -1 on failure. Create-list
 * functions return a list handle, or 0 / 0xFFFFFFFF (never lists).
 *
 * Texts are single-byte ANSI strings, NUL-terminated inside fixed fields.
 * A caller's text longer than the field it is copied into is cut to the
 * field's width minus one and stays terminated; nothing is ever copied past
 * a field (locker names: 199 / 399 characters, book passwords: 15).
 *
 * Pointer arguments must be read-write memory (a text in read-only memory,
 * such as a string literal, is refused), which is why they are not const.
 */
#ifndef KVIABDB_H
#define KVIABDB_H

#include <stddef.h>
#include <stdint.h>

/* The library's version; the same as the SONAME's and the DLLs'. */
#define KVIABDB_VERSION_MAJOR 1
#define KVIABDB_VERSION_MINOR 0
#define KVIABDB_VERSION_PATCH 0
#define KVIABDB_VERSION "1.0.0"

/* The calling convention of every export: __stdcall on 32-bit Windows.
 * Use it in pointers to the exports (GetProcAddress). */
#if defined(_WIN32) && !defined(_WIN64)
#define KVI_API __stdcall
#else
#define KVI_API
#endif

/* Windows clients import the exports from KVIABDB.dll; define
 * KVIABDB_STATIC when linking the library's code in statically. */
#if defined(_WIN32) && !defined(KVIABDB_STATIC) && !defined(KVIABDB_BUILDING)
#define KVI_DECL __declspec(dllimport)
#elif defined(_WIN32)
#define KVI_DECL
#elif defined(__GNUC__)
#define KVI_DECL __attribute__((visibility("default")))
#else
#define KVI_DECL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* List handle: the complement of the address of the list's holder. */
typedef uintptr_t KviListHandle;

#pragma pack(push, 1)

/* An address book entry, 164 bytes. */
typedef struct AddressRecord {
    uint32_t size;            /* 164 when the library fills it */
    uint32_t id;              /* 0 none, 0xFFFFFFFF blank list item */
    char name[31];
    char address[21];
    char phoneNumber[65];
    char extraText1[21];
    char extraText2[11];
    uint8_t filler;
    uint16_t connectionType;  /* 0 unset, 1 modem, 2 network, 3 wireless, 4 cable */
    uint32_t extraValue;
} AddressRecord;

/* A user of the security book, 112 bytes. */
typedef struct SecurityEntry {
    uint32_t size;
    uint32_t id;
    char name[21];
    char password[11];
    uint32_t extraValue;
    uint16_t extraWord;
    char extraText[65];
    uint8_t filler;
} SecurityEntry;

/* The book-wide security settings, 296 bytes. */
typedef struct GlobalSecurity {
    uint32_t size;
    uint32_t mode;
    uint32_t flags;           /* bit 9 (0x200): password protection on */
    char password[276];       /* the books' password, then bytes kept as given */
    uint16_t extraWord1;
    uint16_t extraWord2;
    uint8_t reserved[4];
} GlobalSecurity;

/* A dialing prefix or suffix, 104 bytes. */
typedef struct AffixEntry {
    uint32_t size;
    uint32_t id;
    char name[31];
    char affixText[65];
} AffixEntry;

/* A folder security entry, 276 bytes. */
typedef struct FolderSecurityEntry {
    uint32_t size;
    uint32_t id;
    uint32_t extraValue;
    uint16_t extraWord;
    char path[262];
} FolderSecurityEntry;

#pragma pack(pop)

/* The layouts, checked where the compiler can (C11, C++11 and later). */
#if defined(__cplusplus) && (__cplusplus >= 201103L || (defined(_MSC_VER) && _MSC_VER >= 1900))
#define KVI_STATIC_ASSERT(c, m) static_assert(c, m)
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KVI_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

#ifdef KVI_STATIC_ASSERT

KVI_STATIC_ASSERT(sizeof(AddressRecord) == 164, "AddressRecord is 164 bytes");
KVI_STATIC_ASSERT(offsetof(AddressRecord, id) == 4, "AddressRecord.id");
KVI_STATIC_ASSERT(offsetof(AddressRecord, name) == 8, "AddressRecord.name");
KVI_STATIC_ASSERT(offsetof(AddressRecord, address) == 39, "AddressRecord.address");
KVI_STATIC_ASSERT(offsetof(AddressRecord, phoneNumber) == 60, "AddressRecord.phoneNumber");
KVI_STATIC_ASSERT(offsetof(AddressRecord, extraText1) == 125, "AddressRecord.extraText1");
KVI_STATIC_ASSERT(offsetof(AddressRecord, extraText2) == 146, "AddressRecord.extraText2");
KVI_STATIC_ASSERT(offsetof(AddressRecord, filler) == 157, "AddressRecord.filler");
KVI_STATIC_ASSERT(offsetof(AddressRecord, connectionType) == 158, "AddressRecord.connectionType");
KVI_STATIC_ASSERT(offsetof(AddressRecord, extraValue) == 160, "AddressRecord.extraValue");

KVI_STATIC_ASSERT(sizeof(SecurityEntry) == 112, "SecurityEntry is 112 bytes");
KVI_STATIC_ASSERT(offsetof(SecurityEntry, id) == 4, "SecurityEntry.id");
KVI_STATIC_ASSERT(offsetof(SecurityEntry, name) == 8, "SecurityEntry.name");
KVI_STATIC_ASSERT(offsetof(SecurityEntry, password) == 29, "SecurityEntry.password");
KVI_STATIC_ASSERT(offsetof(SecurityEntry, extraValue) == 40, "SecurityEntry.extraValue");
KVI_STATIC_ASSERT(offsetof(SecurityEntry, extraWord) == 44, "SecurityEntry.extraWord");
KVI_STATIC_ASSERT(offsetof(SecurityEntry, extraText) == 46, "SecurityEntry.extraText");
KVI_STATIC_ASSERT(offsetof(SecurityEntry, filler) == 111, "SecurityEntry.filler");

KVI_STATIC_ASSERT(sizeof(GlobalSecurity) == 296, "GlobalSecurity is 296 bytes");
KVI_STATIC_ASSERT(offsetof(GlobalSecurity, mode) == 4, "GlobalSecurity.mode");
KVI_STATIC_ASSERT(offsetof(GlobalSecurity, flags) == 8, "GlobalSecurity.flags");
KVI_STATIC_ASSERT(offsetof(GlobalSecurity, password) == 12, "GlobalSecurity.password");
KVI_STATIC_ASSERT(offsetof(GlobalSecurity, extraWord1) == 288, "GlobalSecurity.extraWord1");
KVI_STATIC_ASSERT(offsetof(GlobalSecurity, extraWord2) == 290, "GlobalSecurity.extraWord2");
KVI_STATIC_ASSERT(offsetof(GlobalSecurity, reserved) == 292, "GlobalSecurity.reserved");

KVI_STATIC_ASSERT(sizeof(AffixEntry) == 104, "AffixEntry is 104 bytes");
KVI_STATIC_ASSERT(offsetof(AffixEntry, id) == 4, "AffixEntry.id");
KVI_STATIC_ASSERT(offsetof(AffixEntry, name) == 8, "AffixEntry.name");
KVI_STATIC_ASSERT(offsetof(AffixEntry, affixText) == 39, "AffixEntry.affixText");

KVI_STATIC_ASSERT(sizeof(FolderSecurityEntry) == 276, "FolderSecurityEntry is 276 bytes");
KVI_STATIC_ASSERT(offsetof(FolderSecurityEntry, id) == 4, "FolderSecurityEntry.id");
KVI_STATIC_ASSERT(offsetof(FolderSecurityEntry, extraValue) == 8, "FolderSecurityEntry.extraValue");
KVI_STATIC_ASSERT(offsetof(FolderSecurityEntry, extraWord) == 12, "FolderSecurityEntry.extraWord");
KVI_STATIC_ASSERT(offsetof(FolderSecurityEntry, path) == 14, "FolderSecurityEntry.path");

#undef KVI_STATIC_ASSERT
#endif

/* Start-up and shut-down (101, 102). */
KVI_DECL int32_t KVI_API KviDfInitialize(void);
KVI_DECL void KVI_API KviDfTerminate(void);

/* Address book file and password (203, 204, 216, 218, 219). */
KVI_DECL int32_t KVI_API KviDfOpenAddressBook(uint32_t unused);
KVI_DECL void KVI_API KviDfCloseAddressBook(void);
KVI_DECL int32_t KVI_API KviDfCommitAddressBook(uint32_t force);
KVI_DECL int32_t KVI_API KviDfAddressBookPasswd(char* password, uint32_t* flag);
KVI_DECL int32_t KVI_API KviDfAddressBookSetPasswd(char* newPassword, uint32_t flag, char* oldPassword);

/* Locks and locker names (205, 206, 215, 303, 304, 315). */
KVI_DECL int32_t KVI_API KviDfLockAddressBook(char* lockerName);
KVI_DECL int32_t KVI_API KviDfUnlockAddressBook(void);
KVI_DECL int32_t KVI_API KviDfGetAddressLocker(char* buffer, uint32_t length);
KVI_DECL int32_t KVI_API KviDfLockSecurityBook(char* lockerName, uint32_t timeoutMs);
KVI_DECL int32_t KVI_API KviDfUnlockSecurityBook(void);
KVI_DECL int32_t KVI_API KviDfGetSecurityLocker(char* buffer, uint32_t length);

/* Address lists and entries (207 to 214, 217). */
KVI_DECL KviListHandle KVI_API KviDfCreateAddressList(void);
KVI_DECL void KVI_API KviDfDestroyAddressList(KviListHandle list);
KVI_DECL int32_t KVI_API KviDfAddressListCount(KviListHandle list);
KVI_DECL int32_t KVI_API KviDfAddressListItem(KviListHandle list, int32_t index, AddressRecord* item);
KVI_DECL int32_t KVI_API KviDfAddressListValidAt(KviListHandle list, int32_t index);
KVI_DECL int32_t KVI_API KviDfGetAddress(AddressRecord* entry);
KVI_DECL int32_t KVI_API KviDfUpdateAddress(AddressRecord* entry, KviListHandle list, uint32_t index);
KVI_DECL int32_t KVI_API KviDfAddAddress(AddressRecord* entry, KviListHandle list, uint32_t* newIndex);
KVI_DECL int32_t KVI_API KviDfDeleteAddress(uint32_t id, KviListHandle list, uint32_t index);

/* Security book file (301, 302, 316). */
KVI_DECL int32_t KVI_API KviDfOpenSecurityBook(void* unused);
KVI_DECL void KVI_API KviDfCloseSecurityBook(void);
KVI_DECL int32_t KVI_API KviDfCommitSecurityBook(uint32_t force);

/* Global security (305, 306). */
KVI_DECL int32_t KVI_API KviDfGetGlobalSecurity(GlobalSecurity* record);
KVI_DECL int32_t KVI_API KviDfSetGlobalSecurity(GlobalSecurity* record);

/* Users and the shared security-book list functions (307 to 314, 317, 318). */
KVI_DECL KviListHandle KVI_API KviDfCreateSecurityList(void);
KVI_DECL void KVI_API KviDfDestroySecurityList(KviListHandle list);
KVI_DECL int32_t KVI_API KviDfSecurityListCount(KviListHandle list);
KVI_DECL int32_t KVI_API KviDfSecurityListItem(KviListHandle list, int32_t index, SecurityEntry* item);
KVI_DECL int32_t KVI_API KviDfSecurityListValidAt(KviListHandle list, int32_t index);
KVI_DECL int32_t KVI_API KviDfGetSecurity(SecurityEntry* entry);
KVI_DECL int32_t KVI_API KviDfGetSecurityByName(SecurityEntry* entry);
KVI_DECL int32_t KVI_API KviDfUpdateSecurity(SecurityEntry* entry, KviListHandle list, uint32_t index);
KVI_DECL int32_t KVI_API KviDfDeleteSecurityEntry(uint32_t id, KviListHandle list, uint32_t index);
KVI_DECL int32_t KVI_API KviDfAddSecurityEntry(SecurityEntry* entry, KviListHandle list, uint32_t* indexOut);

/* Dialing prefixes and suffixes (401 to 417). */
KVI_DECL KviListHandle KVI_API KviDfCreatePrefixList(void);
KVI_DECL KviListHandle KVI_API KviDfCreateSuffixList(void);
KVI_DECL void KVI_API KviDfDestroyAffixList(KviListHandle list);
KVI_DECL int32_t KVI_API KviDfAffixListCount(KviListHandle list);
KVI_DECL int32_t KVI_API KviDfAffixListValidAt(KviListHandle list, int32_t index);
KVI_DECL int32_t KVI_API KviDfAffixListItem(KviListHandle list, int32_t index, AffixEntry* item);
KVI_DECL int32_t KVI_API KviDfGetPrefix(AffixEntry* entry);
KVI_DECL int32_t KVI_API KviDfGetSuffix(AffixEntry* entry);
KVI_DECL int32_t KVI_API KviDfGetPrefixByName(AffixEntry* entry);
KVI_DECL int32_t KVI_API KviDfGetSuffixByName(AffixEntry* entry);
KVI_DECL int32_t KVI_API KviDfUpdatePrefix(AffixEntry* entry, KviListHandle list, int32_t index);
KVI_DECL int32_t KVI_API KviDfUpdateSuffix(AffixEntry* entry, KviListHandle list, int32_t index);
KVI_DECL int32_t KVI_API KviDfAddPrefixEntry(AffixEntry* entry, KviListHandle list, uint32_t* indexOut);
KVI_DECL int32_t KVI_API KviDfAddSuffixEntry(AffixEntry* entry, KviListHandle list, uint32_t* indexOut);
KVI_DECL int32_t KVI_API KviDfDeletePrefixEntry(uint32_t id, KviListHandle list, int32_t index, uint32_t compact);
KVI_DECL int32_t KVI_API KviDfDeleteSuffixEntry(uint32_t id, KviListHandle list, int32_t index, uint32_t compact);
KVI_DECL int32_t KVI_API KviDfAffixListIndexOf(KviListHandle list, uint32_t id);

/* Folder security (500 to 508). */
KVI_DECL KviListHandle KVI_API CreateFolderSecurityList(void);
KVI_DECL void KVI_API DestroyFolderSecurityList(KviListHandle list);
KVI_DECL int32_t KVI_API GetFolderSecurity(FolderSecurityEntry* entry);
KVI_DECL int32_t KVI_API ResetFolderSecurityId(void);
KVI_DECL int32_t KVI_API FolderSecurityListCount(KviListHandle list);
KVI_DECL int32_t KVI_API FolderSecurityListItem(KviListHandle list, int32_t index, FolderSecurityEntry* item);
KVI_DECL int32_t KVI_API FolderSecurityListValidAt(KviListHandle list, int32_t index);
KVI_DECL int32_t KVI_API AddFolderSecurityEntry(FolderSecurityEntry* entry, KviListHandle list, uint32_t* indexOut);
KVI_DECL int32_t KVI_API DeleteFolderSecurityEntry(uint32_t id, KviListHandle list, uint32_t index);

#undef KVI_DECL

#ifdef __cplusplus
}
#endif

#endif /* KVIABDB_H */
