/* Prints the header's version and calls one export through the shared
 * library: a list count of a handle that is no list answers 0. */
#include <stdio.h>

#include "kviabdb.h"

int main(void) {
    int32_t count = KviDfAffixListCount(0);
    printf("%s %d\n", KVIABDB_VERSION, (int)count);
    return count == 0 ? 0 : 1;
}
