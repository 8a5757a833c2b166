// What the stand-in add/delete library (record_zipdll.cpp) kept of its last call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engines/zipdll/zipdll.h"

struct RecordedZipCall {
    int calls = 0;
    ZipExecRecord rec{};  // the pointers in it are not to be followed after the call
    std::string archive, password, suffixes, comment, tempDir;
    std::vector<std::string> specs, passwords, roots, exclusions;
    std::vector<int32_t> encrypt;
    std::vector<uint16_t> recurse;
};
