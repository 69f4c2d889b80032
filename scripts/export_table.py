"""The export tables of KVIABDB.dll and KVIABIO.dll: ordinal, name and the
number of 4-byte arguments of every function. The .def files and the
export check both follow these lists."""

KVIABDB = [
    (101, "KviDfInitialize", 0), (102, "KviDfTerminate", 0),
    (203, "KviDfOpenAddressBook", 1), (204, "KviDfCloseAddressBook", 0),
    (205, "KviDfLockAddressBook", 1), (206, "KviDfUnlockAddressBook", 0),
    (207, "KviDfCreateAddressList", 0), (208, "KviDfDestroyAddressList", 1),
    (209, "KviDfAddressListCount", 1), (210, "KviDfAddressListItem", 3),
    (211, "KviDfGetAddress", 1), (212, "KviDfUpdateAddress", 3),
    (213, "KviDfAddAddress", 3), (214, "KviDfDeleteAddress", 3),
    (215, "KviDfGetAddressLocker", 2), (216, "KviDfCommitAddressBook", 1),
    (217, "KviDfAddressListValidAt", 2), (218, "KviDfAddressBookPasswd", 2),
    (219, "KviDfAddressBookSetPasswd", 3),
    (301, "KviDfOpenSecurityBook", 1), (302, "KviDfCloseSecurityBook", 0),
    (303, "KviDfLockSecurityBook", 2), (304, "KviDfUnlockSecurityBook", 0),
    (305, "KviDfGetGlobalSecurity", 1), (306, "KviDfSetGlobalSecurity", 1),
    (307, "KviDfCreateSecurityList", 0), (308, "KviDfDestroySecurityList", 1),
    (309, "KviDfSecurityListCount", 1), (310, "KviDfSecurityListItem", 3),
    (311, "KviDfGetSecurity", 1), (312, "KviDfUpdateSecurity", 3),
    (313, "KviDfDeleteSecurityEntry", 3), (314, "KviDfAddSecurityEntry", 3),
    (315, "KviDfGetSecurityLocker", 2), (316, "KviDfCommitSecurityBook", 1),
    (317, "KviDfSecurityListValidAt", 2), (318, "KviDfGetSecurityByName", 1),
    (401, "KviDfCreatePrefixList", 0), (402, "KviDfCreateSuffixList", 0),
    (403, "KviDfDestroyAffixList", 1), (404, "KviDfAffixListCount", 1),
    (405, "KviDfAffixListValidAt", 2), (406, "KviDfAffixListItem", 3),
    (407, "KviDfGetPrefix", 1), (408, "KviDfGetSuffix", 1),
    (409, "KviDfGetPrefixByName", 1), (410, "KviDfGetSuffixByName", 1),
    (411, "KviDfUpdatePrefix", 3), (412, "KviDfUpdateSuffix", 3),
    (413, "KviDfAddPrefixEntry", 3), (414, "KviDfAddSuffixEntry", 3),
    (415, "KviDfDeletePrefixEntry", 4), (416, "KviDfDeleteSuffixEntry", 4),
    (417, "KviDfAffixListIndexOf", 2),
    (500, "CreateFolderSecurityList", 0), (501, "DestroyFolderSecurityList", 1),
    (502, "GetFolderSecurity", 1), (503, "ResetFolderSecurityId", 0),
    (504, "FolderSecurityListCount", 1), (505, "FolderSecurityListItem", 3),
    (506, "FolderSecurityListValidAt", 2), (507, "AddFolderSecurityEntry", 3),
    (508, "DeleteFolderSecurityEntry", 3),
]

# KVIABIO: the operations by ordinal only (no names in the DLL).
KVIABIO = [
    (101, "KvioStartup", 0), (102, "KvioShutdown", 0),
    (201, "KvioCreate", 3), (202, "KvioRead", 4), (203, "KvioWrite", 4),
    (204, "KvioOpen", 3), (205, "KvioClose", 1), (206, "KvioSetPosition", 3),
    (207, "KvioReplace", 2), (208, "KvioCreateTemporary", 5), (209, "KvioPlace", 2),
    (210, "KvioDelete", 1), (211, "KvioGetSize", 2),
    (212, "KvioFlush", 1),
]
# The test hooks, by name only.
KVIABIO_HOOKS = [("KvioInjectFault", 3), ("KvioCallCount", 1), ("KvioInjectCrash", 1)]
