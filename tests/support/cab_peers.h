// Reading a test cabinet back with every peer at hand: libmspack's cabinet decompressor (linked into the
// test programs that include this header) and the cabextract, 7z and unar programs when installed. Header
// only, so that only those programs need libmspack.
#pragma once

#include <gtest/gtest.h>
#include <mspack.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/cab_builder.h"
#include "tests/support/test_support.h"

namespace varnok::test {

// The bytes of `name` as libmspack extracts them from `cab`; on failure *error says why.
inline std::vector<uint8_t> ExtractWithLibmspack(const fs::path& cab, const fs::path& dir, const std::string& name,
                                                 std::string* error) {
    fs::create_directories(dir);
    mscab_decompressor* d = mspack_create_cab_decompressor(nullptr);
    std::vector<uint8_t> data;
    mscabd_cabinet* c = d->open(d, cab.c_str());
    if (!c) {
        *error = "libmspack cannot open the cabinet: error " + std::to_string(d->last_error(d));
    } else {
        bool found = false;
        for (mscabd_file* f = c->files; f; f = f->next) {
            if (name != f->filename) continue;
            found = true;
            const auto out = dir / name;
            const int r = d->extract(d, f, out.c_str());
            if (r != MSPACK_ERR_OK)
                *error = "libmspack extract error " + std::to_string(r);
            else
                data = ReadFile(out);
        }
        if (!found) *error = "libmspack does not list " + name;
        d->close(d, c);
    }
    mspack_destroy_cab_decompressor(d);
    return data;
}

// Writes the cabinet and checks that every available peer gives back exactly `expected` as `name`.
// `peers` lists the command-line peers to try ("cabextract", "7z", "unar"); libmspack is always asked.
inline void ExpectPeersReadBack(const std::vector<uint8_t>& cab, const std::vector<uint8_t>& expected,
                                const std::vector<std::string>& peers, const std::string& label,
                                const std::string& name = "data.bin") {
    TempDir tmp;
    const auto path = tmp / "test.cab";
    WriteFile(path, cab);
    std::string error;
    const auto ours = ExtractWithLibmspack(path, tmp / "mspack", name, &error);
    EXPECT_TRUE(error.empty()) << label << ": " << error;
    EXPECT_TRUE(ours == expected) << label << ": libmspack gives " << ours.size() << " bytes, expected "
                                  << expected.size();
    for (const auto& tool : peers) {
        if (!HaveTool(tool)) continue;
        error.clear();
        const auto got = ExtractWithTool(tool, path, tmp / tool, name, &error);
        EXPECT_TRUE(error.empty()) << label << ": " << error;
        EXPECT_TRUE(got == expected) << label << ": " << tool << " gives " << got.size() << " bytes, expected "
                                     << expected.size();
    }
}

}  // namespace varnok::test
