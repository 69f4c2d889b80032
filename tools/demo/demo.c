/* A short client session against the shared library: start up, take both
 * book locks, show who holds them, open the address book, add an entry,
 * list the book, commit, release. Uses only the public header. */
#include <stdio.h>
#include <string.h>

#include "kviabdb.h"

static int step(const char* what, int32_t result) {
    printf("%-34s %d\n", what, (int)result);
    return result;
}

int main(void) {
    char locker[] = "demo session";
    char shown[64];
    step("KviDfInitialize", KviDfInitialize());
    step("KviDfLockAddressBook", KviDfLockAddressBook(locker));
    step("KviDfLockSecurityBook (1000 ms)", KviDfLockSecurityBook(locker, 1000));

    if (step("KviDfOpenAddressBook", KviDfOpenAddressBook(0)) == 1) {
        AddressRecord entry;
        memset(&entry, 0, sizeof entry);
        entry.size = sizeof entry;
        strcpy(entry.name, "Head office");
        strcpy(entry.address, "office.example");
        entry.connectionType = 2;
        int32_t added = KviDfAddAddress(&entry, 0, NULL);
        printf("%-34s %d (1 added, 3 already there)\n", "KviDfAddAddress", (int)added);
        if (KviDfGetAddressLocker(shown, sizeof shown)) printf("address book locked by: %s\n", shown);
        KviListHandle list = KviDfCreateAddressList();
        int32_t count = KviDfAddressListCount(list);
        printf("address book entries: %d\n", (int)count);
        for (int32_t i = 0; i < count; ++i) {
            AddressRecord item;
            if (KviDfAddressListItem(list, i, &item) && item.id != 0xFFFFFFFFu)
                printf("  #%u %-30s %-20s type %u\n", item.id, item.name, item.address, item.connectionType);
        }
        KviDfDestroyAddressList(list);
        step("KviDfCommitAddressBook", KviDfCommitAddressBook(0));
        KviDfCloseAddressBook();
    }
    if (step("KviDfOpenSecurityBook", KviDfOpenSecurityBook(NULL)) == 1) {
        if (KviDfGetSecurityLocker(shown, sizeof shown)) printf("security book locked by: %s\n", shown);
        KviDfCloseSecurityBook();
    }
    step("KviDfUnlockSecurityBook", KviDfUnlockSecurityBook());
    step("KviDfUnlockAddressBook", KviDfUnlockAddressBook());
    KviDfTerminate();
    return 0;
}
