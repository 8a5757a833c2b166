// Shared by the extractor fuzz targets: the input becomes a file, the extractor of its identified type (when
// that is one of the wanted types) tests it and extracts it into a private folder, with a password so that
// garbled entries are tried too.
#pragma once

#include <initializer_list>
#include <string>

#include "archive/extractors.h"
#include "fuzz/core/fuzz_support.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::fuzz {

inline void RunExtractor(const uint8_t* data, size_t size, const std::string& suffix,
                         std::initializer_list<TArcType> wanted) {
    InputFile in(data, size, suffix);
    static const std::string out = platform::CreateTempDir("", "vnkfuzzout");
    for (bool test : {true, false}) {
        TArcType type;
        {
            auto probe = CreateExtractor(atZip);
            probe->SetArchiveFile(in.Path());
            type = probe->ArcType();
        }
        bool ok = false;
        for (TArcType t : wanted)
            ok |= t == type;
        if (!ok) return;
        auto x = CreateExtractor(type);
        x->SetArchiveFile(in.Path());
        x->FileSpec = {"*.*"};
        x->Passwords = {"x"};
        x->ExtractDir = out;
        x->ConfirmOverwrites = false;
        x->CreateStoredDirs = true;
        try {
            if (test)
                x->TestArchive();
            else
                x->ExtractArchive();
        } catch (const ArchiveError&) {
        }
    }
    platform::RemoveTree(out);
    platform::ForceDirectories(out);
}

}  // namespace varnok::fuzz
