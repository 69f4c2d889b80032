// A second program for the lock tests: run as a 32-bit build beside the
// 64-bit suite (or the other way round) it shows that both kinds of
// process share one lock and one block. Uses the exports only.
//   lock_peer try       the address book is held elsewhere: prints its locker
//   lock_peer hold MS   takes the security book lock as "peer", keeps it MS
//                       milliseconds and ends without releasing it
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "kviabdb.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    KviDfInitialize();
    if (KviDfOpenAddressBook(0) != 1) return 3;
    if (strcmp(argv[1], "try") == 0) {
        if (KviDfLockAddressBook(nullptr) != 0) return 4;
        char name[200];
        if (KviDfGetAddressLocker(name, sizeof name) != 1) return 5;
        printf("%s\n", name);
        return 0;
    }
    if (strcmp(argv[1], "hold") == 0 && argc == 3) {
        char name[] = "peer";
        if (KviDfLockSecurityBook(name, 10000) != 1) return 6;
        printf("held\n");
        fflush(stdout);
        usleep(static_cast<useconds_t>(atoi(argv[2])) * 1000u);
        _exit(0);  // still holding it: the next locker hears of the death
    }
    return 2;
}
