/* What every client may rely on after including kviabdb.h: the version
 * numbers as numbers, and no helper macro left behind. */
#if !defined(KVIABDB_VERSION_MAJOR) || !defined(KVIABDB_VERSION_MINOR) || !defined(KVIABDB_VERSION_PATCH)
#error "the version numbers are missing"
#endif
#if KVIABDB_VERSION_MAJOR < 1
#error "KVIABDB_VERSION_MAJOR is not a number of 1 or more"
#endif
#ifdef KVI_STATIC_ASSERT
#error "KVI_STATIC_ASSERT is left defined"
#endif
#ifdef KVI_DECL
#error "KVI_DECL is left defined"
#endif

static const char* const kvi_version_text = KVIABDB_VERSION;
int kvi_header_check(void);
int kvi_header_check(void) { return kvi_version_text[0] != '\0' && sizeof(AddressRecord) == 164; }
