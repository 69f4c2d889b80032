/* A client built with the Microsoft toolchain's conventions (clang-cl,
 * lld-link at its defaults, /safeseh) against KVIABDB.lib. It needs no C
 * runtime, so it links without the Windows SDK; the link itself is the
 * test: every import resolves to KVIABDB.dll, undecorated. */
#include "kviabdb.h"

int __cdecl start(void) {
    int32_t ok = KviDfInitialize();
    KviListHandle list = KviDfCreateAddressList();
    int32_t count = KviDfAddressListCount(list);
    KviDfDestroyAddressList(list);
    KviDfTerminate();
    return ok == 1 && count >= 0 ? 0 : 1;
}
