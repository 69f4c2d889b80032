// The address load's run of usual records with one 64-byte NUL mask per
// record, for processors with AVX-512BW, BMI1 and BMI2: the answers of
// CheckShortRun (address_check.h) in about a third fewer instructions.
// Each function here carries the target itself, so no other code of the
// library is built for those processors; the load calls it only where the
// processor has them (UseWideMasks). The loop is CheckShortRun's, written
// again because a target cannot be given to one instance of a template.
#include "address/address_check.h"

#if KVI_WIDE_MASKS
#include <immintrin.h>

namespace kvi {
namespace address_check {

namespace {

#define KVI_WIDE_TARGET __attribute__((target("avx512bw,bmi,bmi2")))

template <bool kNumbering>
KVI_WIDE_TARGET uint32_t WideRun(const uint8_t* section, uint32_t size, uint32_t* at, uint32_t room,
                                 uint32_t* offsets, uint32_t* ids, uint32_t nextId) {
    constexpr uint32_t kReach = 4 + 64 + 10;  // the window and the longest record of the run
    if (size < kReach) return 0;
    const uint8_t* p = section + *at;
    const uint8_t* const last = section + (size - kReach);
    uint32_t k = 0;
    while (k < room && p <= last) {
        uint32_t length;
        std::memcpy(&length, p, 4);
        const uint32_t texts = length - 14;  // the texts with their NULs
        if (texts - 5 > 64 - 5) break;       // 19 <= length <= 78
        const __m512i window = _mm512_loadu_si512(p + 4);
        // NUL bits of the texts alone (bzhi keeps the low `texts` bits).
        const uint64_t w0 = _bzhi_u64(_mm512_testn_epi8_mask(window, window), texts);
        // The first four NULs; tzcnt of no bit is 64, and then the test of
        // the fifth below fails.
        const uint64_t w1 = _blsr_u64(w0), w2 = _blsr_u64(w1), w3 = _blsr_u64(w2), w4 = _blsr_u64(w3);
        const int32_t e0 = static_cast<int32_t>(_tzcnt_u64(w0)), e1 = static_cast<int32_t>(_tzcnt_u64(w1));
        const int32_t e2 = static_cast<int32_t>(_tzcnt_u64(w2)), e3 = static_cast<int32_t>(_tzcnt_u64(w3));
        // Each text with its NUL within its field: a field overrun leaves
        // its term below zero and sets the sign. A phone number within 64
        // bytes always fits its 65-byte field.
        constexpr int32_t kAddress = sizeof AddressRecord::address, kText1 = sizeof AddressRecord::extraText1;
        constexpr int32_t kText2 = sizeof AddressRecord::extraText2, kName = sizeof AddressRecord::name;
        const int32_t over = (kAddress - 1 - e0) | (e1 + kText1 - e2) | (e2 + kText2 - e3) |
                             (e3 + kName + 1 - static_cast<int32_t>(texts));
        // Exactly five NULs, the fifth ending the texts.
        if ((over < 0) | (w4 != uint64_t(1) << (texts - 1))) break;
        KeepRunRecord<kNumbering>(section, p, length, k, nextId, offsets, ids);
        p += length;
        ++k;
    }
    *at = static_cast<uint32_t>(p - section);
    return k;
}

bool ProcessorHasWideMasks() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}

}  // namespace

bool& WideMasksAllowed() {
    static bool allowed = true;
    return allowed;
}

bool UseWideMasks() {
    static const bool has = ProcessorHasWideMasks();
    return has && WideMasksAllowed();
}

uint32_t CheckShortRunWide(bool numbering, const uint8_t* section, uint32_t size, uint32_t* at, uint32_t room,
                           uint32_t* offsets, uint32_t* ids, uint32_t nextId) {
    return numbering ? WideRun<true>(section, size, at, room, offsets, ids, nextId)
                     : WideRun<false>(section, size, at, room, offsets, ids, nextId);
}

}  // namespace address_check
}  // namespace kvi

#endif
