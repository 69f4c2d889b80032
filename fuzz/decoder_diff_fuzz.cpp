// The one-pass record decoders against the decoders they replaced: for
// arbitrary bytes, each pair must agree on the bytes consumed (0 for a
// refusal) and on every byte of the record, and the load's check of the
// bytes must give that answer and the record's id. The first input byte picks the
// decoder; the rest are the bytes it is given, in a buffer of exactly that
// size, so that any read past them is reported by ASan. With bit 2 of the
// first byte set the bytes are a whole section instead: the load's walk of
// it (tight runs of plain records, the check for the others) must accept
// the records that decoding them one by one accepts, with the same ids.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "address/address_check.h"
#include "address/address_record.h"
#include "security/packed_checks.h"
#include "security/packed_records.h"
#include "support/reference_decoders.h"
#include "support/section_walks.h"

namespace {

uint32_t CheckAddress(const uint8_t* p, uint32_t n, uint32_t* id) { return kvi::CheckEncoding(p, n, id); }
template <uint32_t (*Check)(const uint8_t*, uint32_t)>
uint32_t CheckPacked(const uint8_t* p, uint32_t n, uint32_t* id) {
    const uint32_t r = Check(p, n);
    if (r) std::memcpy(id, p + 4, 4);
    return r;
}

template <class Record>
void Compare(uint32_t (*fresh)(Record&, const uint8_t*, uint32_t),
             uint32_t (*former)(Record&, const uint8_t*, uint32_t), uint32_t (*check)(const uint8_t*, uint32_t, uint32_t*),
             const uint8_t* bytes, uint32_t n) {
    Record a, b;
    std::memset(&a, 0xA5, sizeof a);  // no byte may be left as it was
    std::memset(&b, 0x5A, sizeof b);
    const uint32_t ra = fresh(a, bytes, n);
    const uint32_t rb = former(b, bytes, n);
    if (ra != rb || std::memcmp(&a, &b, sizeof a) != 0) abort();
    uint32_t id = 0;
    if (check(bytes, n, &id) != ra || (ra && id != a.id)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    const std::vector<uint8_t> bytes(data + 1, data + size);
    const uint8_t* p = bytes.empty() ? nullptr : bytes.data();
    static const uint8_t none = 0;
    if (!p) p = &none;  // zero bytes given: nothing may be read
    const uint32_t n = static_cast<uint32_t>(bytes.size());
    if (data[0] & 4) {
        // Count, block size and numbering from the first byte's high bits.
        const uint32_t count = 1 + (data[0] >> 4) * 3u;
        const bool numbering = (data[0] & 8) != 0;
        const uint32_t room = numbering ? count : count / 2;
        using namespace kvi::walks;
        using kvi::packed_check::PlainAffix;
        using kvi::packed_check::PlainFolder;
        using kvi::packed_check::PlainUser;
        bool same = true;
        switch (data[0] % 4) {
            case 0: same = AddressByRuns(p, n, count, room, numbering) == AddressByDecoding(p, n, count, numbering); break;
            case 1:
                same = PackedByRuns<PlainAffix, kvi::CheckAffix>(p, n, count, room, numbering) ==
                       ByDecoding<AffixEntry>(p, n, count, numbering, kvi::reference::DecodeAffix, false);
                break;
            case 2:
                same = PackedByRuns<PlainUser, kvi::CheckUser>(p, n, count, room, numbering) ==
                       ByDecoding<SecurityEntry>(p, n, count, numbering, kvi::reference::DecodeUser, false);
                break;
            default:
                same = PackedByRuns<PlainFolder, kvi::CheckFolder>(p, n, count, room, numbering) ==
                       ByDecoding<FolderSecurityEntry>(p, n, count, numbering, kvi::reference::DecodeFolder, false);
                break;
        }
        if (!same) abort();
        return 0;
    }
    switch (data[0] % 4) {
        case 0: Compare<AddressRecord>(kvi::Decode, kvi::reference::DecodeAddress, CheckAddress, p, n); break;
        case 1: Compare<AffixEntry>(kvi::DecodeAffix, kvi::reference::DecodeAffix, CheckPacked<kvi::CheckAffix>, p, n); break;
        case 2: Compare<SecurityEntry>(kvi::DecodeUser, kvi::reference::DecodeUser, CheckPacked<kvi::CheckUser>, p, n); break;
        default:
            Compare<FolderSecurityEntry>(kvi::DecodeFolder, kvi::reference::DecodeFolder, CheckPacked<kvi::CheckFolder>,
                                         p, n);
            break;
    }
    return 0;
}
