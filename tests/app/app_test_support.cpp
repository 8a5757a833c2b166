#include "tests/app/app_test_support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/paths.h"
#include "archive/core/errors.h"
#include "platform/fileattr.h"

namespace varnok::app::test {

ExtractOutcome FakeEngine::Run(const ExtractJob& job, ExtractEvents& ev) {
    jobs_.push_back(job);
    if (a_.throwFatal) throw std::runtime_error("engine failure");
    ExtractOutcome out;
    for (const auto& [name, data] : a_.entries) {
        if (cancelled_ || ev.CancelRequested()) break;
        if (!job.allEntries && std::find(job.names.begin(), job.names.end(), name) == job.names.end())
            continue;
        if (!name.empty() && name.back() == '/') continue;
        std::string out_path = job.destination + (job.useFolderNames ? name : FileNameOf(name));
        if (std::find(a_.passwordRefused.begin(), a_.passwordRefused.end(), name) !=
            a_.passwordRefused.end()) {
            ev.EntryFailed(name, out_path, E_InvalidPassword, "");
            continue;
        }
        ev.FileStarting(name, out_path);
        if (platform::PathExists(out_path)) {
            ExistsDecision d = ev.FileExists(name, out_path);
            if (d == ExistsDecision::Cancel) break;
            if (d == ExistsDecision::Skip) continue;
        }
        std::filesystem::create_directories(std::filesystem::path(out_path).parent_path());
        std::ofstream(out_path, std::ios::binary | std::ios::trunc) << data;
        ++out.extracted;
        if (auto it = a_.errors.find(name); it != a_.errors.end())
            ev.EntryFailed(name, out_path, it->second, "");
        else if (std::find(a_.crcFailures.begin(), a_.crcFailures.end(), name) != a_.crcFailures.end())
            ev.EntryFailed(name, out_path, E_CrcCheck, "");
        ev.Progress(100, 50);
        ev.Activity();
    }
    return out;
}

}  // namespace varnok::app::test
