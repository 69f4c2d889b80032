/* A Windows client of KVIABDB.dll, built as any client program is: the
 * public header, the import library, nothing else of the library. Run
 * without arguments it takes the address book lock and starts a second
 * copy of itself, which must find the lock held and the locker name that
 * the first left in the library's shared section; then the first releases
 * the lock and a third copy must get it. Exit code 0 when all holds. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "kviabdb.h"

static int failures = 0;

static void expect(const char* what, long got, long want) {
    printf("%-44s %ld%s\n", what, got, got == want ? "" : "   <-- unexpected");
    if (got != want) ++failures;
}

/* Runs this program again with one argument and returns its exit code. */
static DWORD run_copy(const char* mode) {
    char self[MAX_PATH];
    char command[2 * MAX_PATH];
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    DWORD code = 100;
    if (!GetModuleFileNameA(NULL, self, sizeof self)) return 101;
    snprintf(command, sizeof command, "\"%s\" %s", self, mode);
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    fflush(stdout);
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) return 102;
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

/* The second process: the lock is another's, and so is the name shown. */
static int finds_lock_held(void) {
    char me[] = "second client";
    char shown[64];
    KviDfInitialize();
    expect("  copy: KviDfOpenAddressBook", KviDfOpenAddressBook(0), 1);
    expect("  copy: KviDfLockAddressBook (held elsewhere)", KviDfLockAddressBook(me), 0);
    memset(shown, 0, sizeof shown);
    expect("  copy: KviDfGetAddressLocker", KviDfGetAddressLocker(shown, sizeof shown), 1);
    expect("  copy: locker is \"first client\"", strcmp(shown, "first client") == 0, 1);
    KviDfCloseAddressBook();
    KviDfTerminate();
    return failures;
}

static int takes_free_lock(void) {
    char me[] = "third client";
    KviDfInitialize();
    expect("  copy: KviDfLockAddressBook (free)", KviDfLockAddressBook(me), 1);
    expect("  copy: KviDfUnlockAddressBook", KviDfUnlockAddressBook(), 1);
    KviDfTerminate();
    return failures;
}

int main(int argc, char** argv) {
    char me[] = "first client";
    char shown[64];
    if (argc > 1 && strcmp(argv[1], "held") == 0) return finds_lock_held();
    if (argc > 1 && strcmp(argv[1], "free") == 0) return takes_free_lock();

    char folder[MAX_PATH];
    UINT n = GetWindowsDirectoryA(folder, MAX_PATH - 8);
    if (n == 0 || n >= MAX_PATH - 8) return 1;
    strcat(folder, "\\KVI32");  /* the books' folder, which the library does not make */
    CreateDirectoryA(folder, NULL);

    expect("KviDfInitialize", KviDfInitialize(), 1);
    expect("KviDfOpenAddressBook", KviDfOpenAddressBook(0), 1);
    expect("KviDfLockAddressBook", KviDfLockAddressBook(me), 1);
    memset(shown, 0, sizeof shown);
    expect("KviDfGetAddressLocker", KviDfGetAddressLocker(shown, sizeof shown), 1);
    expect("second process sees the lock held", (long)run_copy("held"), 0);
    expect("KviDfUnlockAddressBook", KviDfUnlockAddressBook(), 1);
    expect("third process takes the free lock", (long)run_copy("free"), 0);
    /* A text in read-only memory fails the caller-buffer check. */
    expect("KviDfLockAddressBook with a constant name", KviDfLockAddressBook((char*)"constant"), 0);
    KviDfCloseAddressBook();
    KviDfTerminate();
    printf("winclient: %s\n", failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}
