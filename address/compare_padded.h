// The text comparison of every name and address rule.
#ifndef KVI_ADDRESS_COMPARE_PADDED_H
#define KVI_ADDRESS_COMPARE_PADDED_H

namespace kvi {

// 0 when a and b are equal ignoring letter case and trailing blanks
// ("Office  " equals "OFFICE"; "Office" differs from "Office 2" and from
// "Offic"), nonzero otherwise. Both texts must be terminated.
int ComparePadded(const char* a, const char* b);

}  // namespace kvi

#endif
