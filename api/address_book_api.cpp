// Not built yet: every export here refuses with its failure value.
#include "kviabdb.h"

extern "C" int32_t KVI_API KviDfOpenAddressBook(uint32_t /*unused*/) { return 0; }
extern "C" void KVI_API KviDfCloseAddressBook() {}
extern "C" int32_t KVI_API KviDfCommitAddressBook(uint32_t /*force*/) { return 0; }
extern "C" int32_t KVI_API KviDfAddressBookPasswd(char* /*password*/, uint32_t* /*flag*/) { return 0; }
extern "C" int32_t KVI_API KviDfAddressBookSetPasswd(char* /*newPassword*/, uint32_t /*flag*/, char* /*oldPassword*/) { return 0; }

#include "frame/process_state.h"
int kvi::IsAddressBookOpen() { return 0; }
