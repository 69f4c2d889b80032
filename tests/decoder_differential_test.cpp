// The one-pass decoders against the decoders they replaced, over many
// seeded variations of real encodings (lengths moved, NULs removed, bytes
// cut): the same bytes consumed or the same refusal, and the same record
// to the last byte. The checks a load makes instead of decoding must give
// the same answer and the same id, and so must the tight runs a load makes
// over whole sections. The fuzz target decoder_diff_fuzz does the same with
// arbitrary bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "address/address_check.h"
#include "address/address_record.h"
#include "security/packed_checks.h"
#include "security/packed_records.h"
#include "support/reference_decoders.h"
#include "support/section_walks.h"

namespace kvi {
namespace {

template <class T>
std::string Bytes(const T& v) {
    return std::string(reinterpret_cast<const char*>(&v), sizeof v);
}

// A valid encoding of a random record of each kind.
std::string RandomText(std::mt19937& rng, uint32_t most) {
    std::string s(rng() % (most + 1), 'a');
    for (char& c : s) c = static_cast<char>('A' + rng() % 58);
    return s;
}

// The load's check of an encoding: what the decoder would answer, and the id.
uint32_t CheckAddress(const uint8_t* p, uint32_t n, uint32_t* id) { return CheckEncoding(p, n, id); }
template <uint32_t (*Check)(const uint8_t*, uint32_t)>
uint32_t CheckPacked(const uint8_t* p, uint32_t n, uint32_t* id) {
    const uint32_t r = Check(p, n);
    if (r) std::memcpy(id, p + 4, 4);
    return r;
}

template <class Record>
void Agree(uint32_t (*fresh)(Record&, const uint8_t*, uint32_t),
           uint32_t (*former)(Record&, const uint8_t*, uint32_t), uint32_t (*check)(const uint8_t*, uint32_t, uint32_t*),
           const std::string& bytes, size_t* accepted) {
    // Exactly the bytes given, so ASan reports any read past them.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    const uint8_t zero = 0;
    const uint8_t* p = exact.empty() ? &zero : exact.data();
    Record a, b;
    std::memset(&a, 0xA5, sizeof a);
    std::memset(&b, 0x5A, sizeof b);
    const uint32_t ra = fresh(a, p, static_cast<uint32_t>(exact.size()));
    const uint32_t rb = former(b, p, static_cast<uint32_t>(exact.size()));
    ASSERT_EQ(rb, ra);
    ASSERT_EQ(0, std::memcmp(&a, &b, sizeof a));
    uint32_t id = 0;
    ASSERT_EQ(ra, check(p, static_cast<uint32_t>(exact.size()), &id));
    if (ra) {
        ASSERT_EQ(a.id, id);
    }
    *accepted += ra != 0;
}

TEST(DecoderDifferential, OnePassDecodersAgreeWithTheFormerOnes) {
    std::mt19937 rng(1210);
    size_t accepted[4] = {};
    for (int i = 0; i < 40000; ++i) {
        const int kind = i % 4;
        std::string body;
        switch (kind) {
            case 0:
                for (uint32_t most : {22u, 66u, 22u, 12u, 32u}) body += RandomText(rng, most) + '\0';
                body += Bytes(static_cast<uint16_t>(rng() % 6)) + Bytes(uint32_t(rng())) + Bytes(uint32_t(rng()));
                body = Bytes(static_cast<uint32_t>(body.size() + 4)) + body;
                break;
            case 1:
                body = RandomText(rng, 32) + '\0' + RandomText(rng, 66) + '\0';
                break;
            case 2:
                body = RandomText(rng, 22) + '\0' + RandomText(rng, 12) + '\0' + Bytes(uint32_t(rng())) +
                       Bytes(static_cast<uint16_t>(rng())) + RandomText(rng, 66) + '\0';
                break;
            default:
                body = Bytes(uint32_t(rng())) + Bytes(static_cast<uint16_t>(rng())) + RandomText(rng, 263) + '\0';
                break;
        }
        if (kind != 0) body = Bytes(static_cast<uint32_t>(body.size() + 8)) + Bytes(uint32_t(rng())) + body;
        // Damage: a length word moved, a NUL removed, the bytes cut.
        const uint32_t damage = rng() % 4;
        if (damage == 1) {
            const uint32_t length = rng() % 2 ? rng() % 300 : static_cast<uint32_t>(body.size()) + rng() % 9 - 4;
            body.replace(0, 4, Bytes(length));
        } else if (damage == 2) {
            const size_t nul = body.find('\0', 4 + rng() % (body.size() - 4));
            if (nul != std::string::npos) body[nul] = 'x';
        } else if (damage == 3) {
            body.resize(rng() % (body.size() + 1));
        }
        // What follows the record: usually a few bytes, sometimes enough
        // for the check's wide reads, with NULs among them.
        std::string tail(rng() % 4 ? rng() % 3 : rng() % 200, 'x');
        for (char& c : tail) c = rng() % 3 ? static_cast<char>(rng()) : '\0';
        body += tail;
        SCOPED_TRACE(i);
        switch (kind) {
            case 0: Agree<AddressRecord>(Decode, reference::DecodeAddress, CheckAddress, body, &accepted[0]); break;
            case 1:
                Agree<AffixEntry>(DecodeAffix, reference::DecodeAffix, CheckPacked<CheckAffix>, body, &accepted[1]);
                break;
            case 2:
                Agree<SecurityEntry>(DecodeUser, reference::DecodeUser, CheckPacked<CheckUser>, body, &accepted[2]);
                break;
            default:
                Agree<FolderSecurityEntry>(DecodeFolder, reference::DecodeFolder, CheckPacked<CheckFolder>, body,
                                           &accepted[3]);
                break;
        }
        if (HasFatalFailure()) return;
    }
    // Both outcomes were compared for every kind.
    for (size_t n : accepted) {
        EXPECT_GT(n, 2000u);
        EXPECT_LT(n, 9500u);
    }
}

// A text for a field of `size` bytes, NUL included: usually short (the
// runs' usual case), else any length, often at the field's edge: one that
// just fits, or one whose NUL falls one byte past the field.
std::string FieldText(std::mt19937& rng, bool shortTexts, uint32_t size) {
    const uint32_t pick = rng() % 64;
    const uint32_t most = shortTexts && size > 12 ? 12 : size - 1;
    const uint32_t n = pick == 0 ? size : pick < 6 ? size - 1 : static_cast<uint32_t>(rng() % (most + 1));
    std::string t(n, 'a');
    for (char& c : t) c = static_cast<char>('A' + rng() % 58);
    return t + '\0';
}

// One record of the kind, built byte by byte as the encoders lay it out
// (texts of any length, so some overrun their fields), some then cut short
// or with a NUL or a length damaged: a section mixes plain records,
// records only the full check accepts, and refusals.
std::string SectionRecord(std::mt19937& rng, int kind) {
    const bool shortTexts = rng() % 3 != 0;
    std::string body;
    const uint32_t id = rng() % 1000;
    switch (kind) {
    case 0:
        for (uint32_t size : {21u, 65u, 21u, 11u, 31u}) body += FieldText(rng, shortTexts, size);
        body += Bytes(static_cast<uint16_t>(rng() % 6)) + Bytes(uint32_t(rng())) + Bytes(id);
        break;
    case 1:
        body = FieldText(rng, shortTexts, 31) + FieldText(rng, shortTexts, 65);
        break;
    case 2:
        body = FieldText(rng, shortTexts, 21) + FieldText(rng, shortTexts, 11) + Bytes(uint32_t(rng())) +
               Bytes(static_cast<uint16_t>(rng())) + FieldText(rng, shortTexts, 65);
        break;
    default:
        body = Bytes(uint32_t(rng())) + Bytes(static_cast<uint16_t>(rng())) + FieldText(rng, shortTexts, 262);
    }
    std::string bytes = kind == 0 ? Bytes(static_cast<uint32_t>(body.size() + 4)) + body
                                  : Bytes(static_cast<uint32_t>(body.size() + 8)) + Bytes(id) + body;
    switch (rng() % 12) {
    case 0: {  // the record ends early: a shorter length, bytes kept
        const uint32_t length = static_cast<uint32_t>(rng() % (bytes.size() + 1));
        bytes.replace(0, 4, Bytes(length));
        break;
    }
    case 1: {  // a NUL gone
        const size_t nul = bytes.find('\0', 8 + rng() % (bytes.size() - 8));
        if (nul != std::string::npos) bytes[nul] = 'x';
        break;
    }
    case 2:  // the length and the bytes cut together
        bytes.resize(8 + rng() % (bytes.size() - 7));
        bytes.replace(0, 4, Bytes(static_cast<uint32_t>(bytes.size())));
        break;
    default:
        break;
    }
    return bytes;
}

TEST(DecoderDifferential, LoadRunsAgreeWithDecodingEveryRecord) {
    std::mt19937 rng(1311);
    uint32_t vouched[4] = {};
    uint32_t refused[4] = {};
    for (int i = 0; i < 4000; ++i) {
        const int kind = i % 4;
        std::string section;
        const uint32_t records = rng() % 40;
        for (uint32_t k = 0; k < records; ++k) section += SectionRecord(rng, kind);
        if (rng() % 4 == 0) section.resize(rng() % (section.size() + 1));  // the section cut anywhere
        // A count that may pass the records present, a load block that
        // may be smaller than the count, and numbering either way.
        const uint32_t count = rng() % 4 ? records : rng() % 50;
        const uint32_t room = rng() % 3 ? count : rng() % (count + 1);
        const bool numbering = rng() % 2;
        std::vector<uint8_t> exact(section.begin(), section.end());
        const uint8_t zero = 0;
        const uint8_t* p = exact.empty() ? &zero : exact.data();
        const uint32_t size = static_cast<uint32_t>(exact.size());
        walks::Walk fast, full;
        switch (kind) {
        case 0: {
            fast = walks::AddressByRuns(p, size, count, room, numbering);
            full = walks::AddressByDecoding(p, size, count, numbering);
#if KVI_WIDE_MASKS
            // The run without the processor's wide masks: the same walk.
            address_check::WideMasksAllowed() = false;
            const walks::Walk common = walks::AddressByRuns(p, size, count, room, numbering);
            address_check::WideMasksAllowed() = true;
            ASSERT_TRUE(common == full) << i;
#endif
            break;
        }
        case 1:
            fast = walks::PackedByRuns<packed_check::PlainAffix, CheckAffix>(p, size, count, room, numbering);
            full = walks::ByDecoding<AffixEntry>(p, size, count, numbering, reference::DecodeAffix, false);
            break;
        case 2:
            fast = walks::PackedByRuns<packed_check::PlainUser, CheckUser>(p, size, count, room, numbering);
            full = walks::ByDecoding<SecurityEntry>(p, size, count, numbering, reference::DecodeUser, false);
            break;
        default:
            fast = walks::PackedByRuns<packed_check::PlainFolder, CheckFolder>(p, size, count, room, numbering);
            full = walks::ByDecoding<FolderSecurityEntry>(p, size, count, numbering, reference::DecodeFolder, false);
            break;
        }
        SCOPED_TRACE(i);
        ASSERT_TRUE(fast == full) << "records " << fast.offsets.size() << " / " << full.offsets.size() << ", refused "
                                  << fast.refused << " / " << full.refused;
        vouched[kind] += fast.vouched;
        refused[kind] += full.refused;
    }
    // The runs took most records and the full checks met refusals, for
    // every kind (without wide reads the affix and user runs take none).
    for (int kind = 0; kind < 4; ++kind) {
#if defined(__SSE2__)
        EXPECT_GT(vouched[kind], 1000u) << kind;
#else
        if (kind == 3) {
            EXPECT_GT(vouched[kind], 1000u);
        }
#endif
        EXPECT_GT(refused[kind], 100u) << kind;
    }
}

}  // namespace
}  // namespace kvi
