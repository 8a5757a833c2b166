// The integrity tester: tests an archive of any testable type by running the extractor of its type in test
// mode, where the decoded data only feed the running check value and nothing reaches the disk, and gives a
// pass or fail for every entry.
//
// The tester owns no decoding of its own: every family is tested by exactly the code that extracts it, so a
// "passed" here means the extractor would have produced the same bytes. What the tester adds is the verdict of
// the whole archive: an entry that fails, an error of the run (a damaged header that ended the walk, an archive
// that does not open), or an exception from the extractor all count, so that a test that could not look at
// everything never passes as sound.
#pragma once

#include <functional>
#include <string>

#include "archive/core/component.h"
#include "archive/core/unbase.h"

namespace varnok {

class TZipCheck : public TZipCommon {
  public:
    // Directories stored in the archive are created (as an extraction with CreateStoredDirs would); off by
    // default.
    bool VerifyStoredDirs = false;
    TCpuType CpuType = cptAuto;
    // The decompression-bomb limit handed to the extractor (see TUnBase::MaxRatio) and how the caller's user
    // raises it.
    uint64_t MaxRatio = 1'000'000;
    std::string LimitsHint;

    TOnBegin OnBegin;
    TOnIntegrityEnd OnEnd;
    // Every entry's verdict; required (Test reports 25270 without it).
    TOnIntegrityStatus OnStatus;
    TUnBase_OnFileExists OnFileExists;
    TOnGetPassword OnGetPassword;
    TOnNestedTarFile OnNestedTarFile;
    // Why an entry failed (its data, its password), just before its OnStatus.
    std::function<void(TZipCommon& sender, const std::string& storedName, int code, const std::string& detail)>
        OnEntryFailed;

    // Whether an archive of type t can be tested here.
    static bool CanTest(TArcType t);

    // Tests ArchiveFile. True when every selected entry passed and the run had no error. Reports 25242 for an
    // archive of a type that cannot be tested (or no archive), 25270 without an OnStatus handler; both leave
    // the archive unread.
    bool Test();

    // Of the last Test: entries that passed and failed, and errors of the run that belong to no entry.
    int Passed() const { return passed_; }
    int Failed() const { return failed_; }
    int RunErrors() const { return runErrors_; }
    // Failed entries plus errors of the run: the count a verdict states.
    int ErrorCount() const { return failed_ + runErrors_; }

  private:
    int passed_ = 0, failed_ = 0, runErrors_ = 0;
};

}  // namespace varnok
