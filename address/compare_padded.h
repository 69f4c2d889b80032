// The text comparison of every name and address rule.
#ifndef KVI_ADDRESS_COMPARE_PADDED_H
#define KVI_ADDRESS_COMPARE_PADDED_H

#include <cstdint>

namespace kvi {

// 0 when a and b are equal ignoring the case of ASCII letters and trailing
// blanks ("Office  " equals "OFFICE"; "Office" differs from "Office 2" and
// from "Offic"), nonzero otherwise. Both texts must be terminated. The
// folding does not follow the host's locale, so that an index built over
// a table agrees with the rule whatever the client sets.
int ComparePadded(const char* a, const char* b);

// A hash under the same rule: texts that ComparePadded finds equal hash
// equal. `seed` mixes in a further part of a key (a connection type).
uint32_t PaddedHash(const char* text, uint32_t seed);

}  // namespace kvi

#endif
