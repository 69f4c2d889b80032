// The second local account of the tests that run as root: "nobody", in
// group "nogroup" (its own group where there is none), dropped to in a
// forked child as setpriv --reuid=nobody --regid=nogroup --clear-groups
// does.
#ifndef KVI_TESTS_SUPPORT_NOBODY_H
#define KVI_TESTS_SUPPORT_NOBODY_H

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace kvi::test {

struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
};

inline bool FindNobody(Account* account) {
    const passwd* pw = getpwnam("nobody");
    if (!pw) return false;
    const group* gr = getgrnam("nogroup");
    *account = {pw->pw_uid, gr ? gr->gr_gid : pw->pw_gid};
    return true;
}

// Every id of the process, real, effective and saved, and no other group.
inline bool BecomeNobody(const Account& account) {
    return setgroups(0, nullptr) == 0 && setresgid(account.gid, account.gid, account.gid) == 0 &&
           setresuid(account.uid, account.uid, account.uid) == 0;
}

}  // namespace kvi::test

#endif
