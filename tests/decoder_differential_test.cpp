// The one-pass decoders against the decoders they replaced, over many
// seeded variations of real encodings (lengths moved, NULs removed, bytes
// cut): the same bytes consumed or the same refusal, and the same record
// to the last byte. The checks a load makes instead of decoding must give
// the same answer and the same id. The fuzz target decoder_diff_fuzz does
// the same with arbitrary bytes.
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

}  // namespace
}  // namespace kvi
