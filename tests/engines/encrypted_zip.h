// Encrypted ZIP files for the tests, made without randomness: stored entries under the traditional cipher,
// whose encryption headers are chosen so that none of the given wrong passwords passes the header check.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/zipcrypt.h"
#include "tests/support/builders.h"

namespace varnok::test {

inline std::vector<uint8_t> BuildEncryptedZip(const std::vector<std::pair<std::string, std::string>>& items,
                                              const std::string& password,
                                              const std::vector<std::string>& wrong = {}) {
    std::vector<ZipItem> zi;
    std::vector<uint32_t> crcs;
    for (const auto& [name, data] : items) {
        const uint32_t crc = Crc32(data.data(), data.size());
        for (unsigned seed = 0; seed < 256; ++seed) {
            std::string enc(12, '\0');
            for (int i = 0; i < 10; ++i)
                enc[static_cast<size_t>(i)] = static_cast<char>(seed * 31 + static_cast<unsigned>(i) * 7);
            enc[10] = static_cast<char>(crc >> 16);
            enc[11] = static_cast<char>(crc >> 24);
            enc += data;
            ZipCipher c;
            c.InitKeys(password);
            c.Encrypt(reinterpret_cast<uint8_t*>(enc.data()), enc.size());
            bool clash = false;
            for (const auto& w : wrong) {
                ZipCipher probe;
                if (probe.CheckCryptHeader(reinterpret_cast<const uint8_t*>(enc.data()), w, 1, 0, crc))
                    clash = true;
            }
            if (clash) continue;
            ZipItem it{name, enc};
            it.flags = 1;
            zi.push_back(it);
            crcs.push_back(crc);
            break;
        }
    }
    // The builder took the CRC and size of the encrypted bytes: put the plain data's in both headers.
    auto z = BuildZip(zi);
    size_t p = 0;
    for (size_t i = 0; i < zi.size(); ++i) {
        PutLe32(&z[p + 14], crcs[i]);
        PutLe32(&z[p + 22], static_cast<uint32_t>(zi[i].data.size() - 12));
        p += 30 + zi[i].name.size() + zi[i].data.size();
    }
    for (size_t i = 0; i < zi.size(); ++i) {
        PutLe32(&z[p + 16], crcs[i]);
        PutLe32(&z[p + 24], static_cast<uint32_t>(zi[i].data.size() - 12));
        p += 46 + zi[i].name.size();
    }
    return z;
}

}  // namespace varnok::test
