// A section's records walked two ways: as a load walks them (the tight
// runs of plain records where they vouch, the record check for the others,
// the runs ending when the load's block of `room` records is full), and
// by decoding every record. Both give the offset and id of each record
// accepted, at most `count`, and whether a record was refused; they must
// agree for any bytes. Shared by the differential test and its fuzz target.
#ifndef KVI_TESTS_SUPPORT_SECTION_WALKS_H
#define KVI_TESTS_SUPPORT_SECTION_WALKS_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "address/address_check.h"
#include "address/address_record.h"
#include "security/packed_checks.h"
#include "security/packed_records.h"
#include "support/reference_decoders.h"

namespace kvi {
namespace walks {

struct Walk {
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> ids;
    bool refused = false;
    uint32_t vouched = 0;  // records taken by the runs (not compared)
    bool operator==(const Walk& o) const { return offsets == o.offsets && ids == o.ids && refused == o.refused; }
};

// One record by its check, as the load does past a run: the bytes it
// takes (0: refused) and its id. The address load first refuses a length
// past the section.
inline uint32_t CheckOneAddress(const uint8_t* p, uint32_t available, uint32_t* id) {
    uint32_t length = 0;
    if (available >= 4) std::memcpy(&length, p, 4);
    if (available < 4 || length > available) return 0;
    return CheckEncoding(p, available, id);
}
template <uint32_t (*Check)(const uint8_t*, uint32_t)>
uint32_t CheckOnePacked(const uint8_t* p, uint32_t available, uint32_t* id) {
    const uint32_t length = Check(p, available);
    if (length) std::memcpy(id, p + 4, 4);
    return length;
}

template <class Run, class One>
Walk ByRuns(const uint8_t* bytes, uint32_t size, uint32_t count, uint32_t room, bool numbering, Run run, One one) {
    Walk w;
    std::vector<uint32_t> offsets(room), ids(room);
    uint32_t inRun = 0;
    uint32_t at = 0;
    uint32_t nextId = 1;
    while (w.offsets.size() < count) {
        const uint32_t done = static_cast<uint32_t>(w.offsets.size());
        if (inRun < room) {
            const uint32_t most = room - inRun < count - done ? room - inRun : count - done;
            const uint32_t n = run(bytes, size, &at, most, offsets.data() + inRun, ids.data() + inRun, nextId);
            for (uint32_t k = inRun; k < inRun + n; ++k) {
                w.offsets.push_back(offsets[k]);
                w.ids.push_back(ids[k]);
            }
            inRun += n;
            nextId += n;
            w.vouched += n;
            if (w.offsets.size() == count) break;
        }
        uint32_t id = 0;
        const uint32_t length = one(bytes + at, size - at, &id);
        if (!length) {
            w.refused = true;
            break;
        }
        if (inRun < room) ++inRun;
        w.offsets.push_back(at);
        w.ids.push_back(numbering ? nextId : id);
        ++nextId;
        at += length;
    }
    return w;
}

template <class Record>
Walk ByDecoding(const uint8_t* bytes, uint32_t size, uint32_t count, bool numbering,
                uint32_t (*decode)(Record&, const uint8_t*, uint32_t), bool checkLength) {
    Walk w;
    uint32_t at = 0;
    while (w.offsets.size() < count) {
        const uint32_t available = size - at;
        uint32_t length = 0;
        if (available >= 4) std::memcpy(&length, bytes + at, 4);
        Record r;
        const uint32_t consumed =
            checkLength && (available < 4 || length > available) ? 0 : decode(r, bytes + at, available);
        if (!consumed) {
            w.refused = true;
            break;
        }
        w.offsets.push_back(at);
        w.ids.push_back(numbering ? static_cast<uint32_t>(w.offsets.size()) : r.id);
        at += consumed;
    }
    return w;
}

inline Walk AddressByRuns(const uint8_t* bytes, uint32_t size, uint32_t count, uint32_t room, bool numbering) {
    return ByRuns(bytes, size, count, room, numbering, numbering ? CheckPlainRun<true> : CheckPlainRun<false>,
                  CheckOneAddress);
}
inline Walk AddressByDecoding(const uint8_t* bytes, uint32_t size, uint32_t count, bool numbering) {
    return ByDecoding<AddressRecord>(bytes, size, count, numbering, reference::DecodeAddress, true);
}

template <class Plain, uint32_t (*Check)(const uint8_t*, uint32_t)>
Walk PackedByRuns(const uint8_t* bytes, uint32_t size, uint32_t count, uint32_t room, bool numbering) {
    return ByRuns(bytes, size, count, room, numbering,
                  numbering ? CheckPackedRun<Plain, true> : CheckPackedRun<Plain, false>, CheckOnePacked<Check>);
}

}  // namespace walks
}  // namespace kvi

#endif
