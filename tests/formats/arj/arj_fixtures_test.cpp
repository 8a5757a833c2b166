// Decoding the entries of the real ARJ samples and comparing with the headers' CRC-32 and with what
// arj itself extracted.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "archive/core/errors.h"
#include "archive/formats/arj/arj_methods.h"
#include "tests/formats/lzh/lzh_test_util.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

// The classic ARJ garbling, applied here only so that the decoders can be run on garbled samples:
// every byte is XORed with the password's bytes (each plus the header's modifier byte) in turn.
class UngarbleSource final : public ByteSource {
  public:
    UngarbleSource(ByteSource& inner, std::string password, uint8_t modifier)
        : inner_(inner), key_(password) {
        for (char& c : key_)
            c = static_cast<char>(static_cast<uint8_t>(c) + modifier);
    }
    size_t Read(uint8_t* buf, size_t n) override {
        size_t got = inner_.Read(buf, n);
        for (size_t i = 0; i < got; ++i) {
            buf[i] ^= static_cast<uint8_t>(key_[pos_]);
            pos_ = (pos_ + 1) % key_.size();
        }
        return got;
    }

  private:
    ByteSource& inner_;
    std::string key_;
    size_t pos_ = 0;
};

struct Sample {
    const char* path;
    const char* password;  // for garbled entries
};

const Sample kSamples[] = {
    {"arj/unarcrs_method1.arj", nullptr},
    {"arj/unarcrs_method2.arj", nullptr},
    {"arj/unarcrs_method3.arj", nullptr},
    {"arj/unarcrs_method4.arj", nullptr},
    {"arj/unarcrs_stored.arj", nullptr},
    {"arj/unarcrs_license_crypted.arj", "secret"},
    {"arj/sharpcompress_Arj.method3.arj", nullptr},
    {"arj/sharpcompress_Arj.encrypted.arj", "test"},
    {"arj/commons_bla.arj", nullptr},
    {"arj/commons_bla.unix.arj", nullptr},
    {"arj/ark_one_toplevel_folder.arj", nullptr},
    {"arj/ark_test_encrypted.arj", "ark"},
    {"arj/patool_p.arj", "thereisnotry"},
};

class ArjSample : public ::testing::TestWithParam<Sample> {};

TEST_P(ArjSample, EveryCompleteEntryMatchesItsCrcAndArj) {
    const Sample s = GetParam();
    VARNOK_REQUIRE_FIXTURE(path, s.path);
    auto file = test::ReadFile(path);
    auto entries = test::WalkArj(file);
    ASSERT_FALSE(entries.empty());
    std::set<std::string> methods;
    std::multiset<std::string> ours;
    bool complete = true;
    for (const auto& e : entries) {
        SCOPED_TRACE(e.name);
        if (e.fileType != 0 && e.fileType != 1) continue;  // directories, labels
        if (e.flags & 0x0C) {                              // split across volumes
            complete = false;
            continue;
        }
        ASSERT_LE(e.dataOffset + e.packed, file.size());
        MemorySource raw(file.data() + e.dataOffset, e.packed);
        std::unique_ptr<UngarbleSource> ungarble;
        ByteSource* src = &raw;
        if (e.flags & 0x01) {
            ASSERT_NE(s.password, nullptr);
            ungarble = std::make_unique<UngarbleSource>(raw, s.password, e.passwordModifier);
            src = ungarble.get();
        }
        test::HashSink sink;
        auto r = DecodeArjMethod(e.method, *src, e.packed, sink, e.unpacked);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << "method " << e.method << " error " << r.errorCode;
        EXPECT_EQ(sink.size, e.unpacked);
        EXPECT_EQ(sink.Crc32(), e.crc32) << "method " << e.method;
        EXPECT_LE(r.consumed, e.packed);
        methods.insert(std::to_string(e.method));
        ours.insert(sink.Sha());
    }
    if (!complete) return;
    for (const auto& row : test::ExpectedFor(s.path))
        EXPECT_TRUE(ours.count(row.sha)) << "arj's output of " << row.entry << " not produced";
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ArjSample, ::testing::ValuesIn(kSamples),
                         [](const ::testing::TestParamInfo<Sample>& param) {
                             std::string n = param.param.path;
                             n = n.substr(n.rfind('/') + 1);
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// A multi-volume set: each volume holds its part of a split file as a stream of its own with its own
// CRC; the parts joined give the whole file.
class ArjVolumeSet : public ::testing::TestWithParam<const char*> {};

TEST_P(ArjVolumeSet, EveryPartDecodesAndThePartsJoinToArjsOutput) {
    VARNOK_REQUIRE_FIXTURE(first, GetParam());
    std::map<std::string, test::Sha256> joined;
    std::map<std::string, uint64_t> sizes;
    int volumes = 0;
    for (int v = 0;; ++v) {
        auto p = first;
        if (v) {
            char ext[16];
            std::snprintf(ext, sizeof ext, ".a%02d", v);
            p.replace_extension(ext);
        }
        if (!std::filesystem::exists(p)) break;
        ++volumes;
        auto file = test::ReadFile(p);
        for (const auto& e : test::WalkArj(file)) {
            SCOPED_TRACE(p.filename().string() + " " + e.name);
            if (e.fileType != 0 && e.fileType != 1) continue;
            ASSERT_LE(e.dataOffset + e.packed, file.size());
            MemorySource src(file.data() + e.dataOffset, e.packed);
            test::HashSink sink(true);
            auto r = DecodeArjMethod(e.method, src, e.packed, sink, e.unpacked);
            EXPECT_EQ(r.status, DecodeStatus::Ok);
            EXPECT_EQ(sink.Crc32(), e.crc32);
            joined[e.name].Update(sink.data.data(), sink.data.size());
            sizes[e.name] += sink.size;
        }
    }
    EXPECT_GT(volumes, 1);
    std::multiset<std::string> ours;
    for (auto& [name, sha] : joined)
        ours.insert(sha.FinishHex());
    auto rows = test::ExpectedFor(GetParam());
    EXPECT_FALSE(rows.empty());
    for (const auto& row : rows)
        EXPECT_TRUE(ours.count(row.sha)) << row.entry;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ArjVolumeSet,
                         ::testing::Values("arj/multi_unarcrs/test_file.arj",
                                           "arj/multi_sharpcompress/Arj.store.split.arj"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             return std::string(param.param).find("unarcrs") != std::string::npos
                                        ? "compressed"
                                        : "stored";
                         });

// The sample with a damaged CRC decodes (the data is sound) but its CRC does not match the header.
TEST(ArjSampleDamaged, WrongCrcIsVisibleToTheCaller) {
    VARNOK_REQUIRE_FIXTURE(path, "arj/unarcrs_wrongcrc32.arj");
    auto file = test::ReadFile(path);
    auto entries = test::WalkArj(file);
    ASSERT_EQ(entries.size(), 1u);
    const auto& e = entries[0];
    MemorySource src(file.data() + e.dataOffset, e.packed);
    test::HashSink sink;
    auto r = DecodeArjMethod(e.method, src, e.packed, sink, e.unpacked);
    EXPECT_EQ(sink.size, e.unpacked);
    EXPECT_TRUE(r.status != DecodeStatus::Ok || sink.Crc32() != e.crc32);
}

}  // namespace
}  // namespace varnok
