// Names that would drive a terminal: every family's stored names with ESC sequences, BEL, line ends, DEL, a
// C1 control and a right-to-left override, listed, tested and extracted by varnok-cli and shown by the
// window. Not one of those bytes may reach the output raw.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/archive_model.h"
#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

// ESC ] (retitles a terminal), BEL, CR LF, DEL, CSI as a C1 control (U+009B), RIGHT-TO-LEFT OVERRIDE.
const std::string kHostile = std::string("x\x1B]2;owned\x07y\r\nz\x7F") + "\xC2\x9B" "2J" + "\xE2\x80\xAE" "txt.exe";

// The raw control bytes a terminal acts on, or the UTF-8 forms of C1 and of the bidirectional controls.
std::string Offending(const std::string& out) {
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) return "control byte " + std::to_string(c);
        if (c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(out[i + 1]) <= 0x9F)
            return "C1 control";
        if (c == 0xE2 && out.compare(i, 3, "\xE2\x80\xAE") == 0) return "bidirectional override";
    }
    return {};
}

std::vector<uint8_t> Arc(const std::string& name, const std::string& data) {
    // One stored entry (method 2), a 12-byte name field that holds the control bytes, and the end mark.
    std::vector<uint8_t> v{0x1A, 2};
    std::string n = name.substr(0, 12);
    AppendBytes(v, n);
    v.resize(v.size() + (13 - n.size()), 0);
    AppendLe32(v, static_cast<uint32_t>(data.size()));
    AppendLe32(v, 0x21000000u);
    AppendLe16(v, UpdateCrc16(0, data.data(), data.size()));
    AppendLe32(v, static_cast<uint32_t>(data.size()));
    AppendBytes(v, data);
    v.push_back(0x1A);
    v.push_back(0);
    return v;
}

std::vector<uint8_t> Gzip(const std::string& name, const std::string& data) {
    std::vector<uint8_t> v{0x1F, 0x8B, 8, 0x08, 0, 0, 0, 0, 0, 3};
    AppendBytes(v, name);
    v.push_back(0);
    // One stored deflate block.
    v.push_back(1);
    AppendLe16(v, static_cast<uint16_t>(data.size()));
    AppendLe16(v, static_cast<uint16_t>(~data.size()));
    AppendBytes(v, data);
    AppendLe32(v, Crc32(data.data(), data.size()));
    AppendLe32(v, static_cast<uint32_t>(data.size()));
    return v;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> Archives() {
    const std::string data = "payload";
    test::ZipItem flagged{kHostile, data};
    flagged.flags = 0x800;
    test::ZipItem dos{kHostile, data};
    const std::string uue = "begin 644 " + std::string("x\x1B]2;owned\x07y\x7F") +
                            "\n'<&%Y;&]A9`\n`\nend\n";
    return {
        {"utf8.zip", test::BuildZip({flagged})},
        {"dos.zip", test::BuildZip({dos})},
        {"a.tar", test::BuildTar({{kHostile, data}})},
        {"a.lzh", test::BuildLzh({{kHostile, data, 1, 'U'}})},
        {"a.arj", test::BuildArj({{kHostile, data, 2}})},
        {"a.arc", Arc("a\x1B]2;x\x07\x7F", data)},
        {"a.gz", Gzip("g\x1B]2;x\x07\x7F\r", data)},
        {"a.uue", std::vector<uint8_t>(uue.begin(), uue.end())},
    };
}

TEST(HostileNames, NeverReachTheTerminalRaw) {
    TempDir d;
    for (const auto& [file, bytes] : Archives()) {
        SCOPED_TRACE(file);
        test::WriteFile(d / file, bytes);
        const std::string cli = Quote(test::BinDir() / "varnok-cli");
        for (const std::string& args : {"list " + Quote(d / file), "test " + Quote(d / file),
                                        "extract " + Quote(d / file) + " -v --overwrite -d " + Quote(d / "out"),
                                        "identify " + Quote(d / file)}) {
            std::string out;
            test::Run(cli + " " + args + " 2>&1", &out);
            EXPECT_EQ(Offending(out), "") << args << ":\n" << out;
            // The escaped name is there to read.
            if (args.rfind("identify", 0) != 0) {
                EXPECT_NE(out.find("\\x1B"), std::string::npos) << args << ":\n" << out;
            }
        }
    }
}

TEST(HostileNames, TheWindowShowsMarks) {
    TempDir d;
    for (const auto& [file, bytes] : Archives()) {
        SCOPED_TRACE(file);
        test::WriteFile(d / file, bytes);
        app::Settings settings;
        app::test::RecordingView view;
        app::ArchiveModel model(settings, view);
        ASSERT_TRUE(model.Open((d / file).string()));
        ASSERT_GE(model.RowCount(), 1);
        for (int col = 0; col < app::kColumnCount; ++col)
            EXPECT_EQ(Offending(model.Text(0, col)), "") << col;
        EXPECT_NE(model.Text(0, app::colName).find("\xE2\x90\x9B"), std::string::npos);  // the ESC mark
        for (const auto& line : view.logs)
            EXPECT_EQ(Offending(line), "") << line;
    }
}

}  // namespace
}  // namespace varnok
