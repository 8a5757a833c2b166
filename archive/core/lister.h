// The archive lister: reads the directory of an archive of any recognised type and reports its entries one by
// one through OnRead. It walks the archive through its family's walk from the format registry, the same walk
// the family's extractor reads, and decides the code page of the names from all of them before it reports
// the first.
#pragma once

#include <cstdint>
#include <string>

#include "archive/core/component.h"
#include "archive/core/entry.h"

namespace varnok {

// The lister's entry record.
using ListEntry = ArchiveEntry;

class TArcLister : public TZipCommon {
  public:
    TArcLister();

    bool ShowEmptyDirs = false;

    TOnRead OnRead;
    TOnReadFile OnReadFile;
    TNotifyEvent OnReadBegin, OnReadEnd;
    TOnTotals OnTotals;
    TOnInsertDisk OnInsertDisk;

    // Lists the archive. False when the run does not start or an exception ended it; never throws.
    bool ReadArchive();

    // The current entry (during OnRead).
    const ListEntry& Entry() const { return entry_; }
    ListEntry& Entry() { return entry_; }

    // The first bad header that ended a walk early (0 when the walk reached the archive's end).
    int WalkError() const { return walkError_; }
    const std::string& WalkErrorDetail() const { return walkDetail_; }

  private:
    void Walk();
    // Runs the common rules for one entry: OnReadFile, the file pattern, counting, OnRead.
    void Report(ListEntry& e);
    bool StopRequested();

    ListEntry entry_;
    int reported_ = 0;
    int walkError_ = 0;
    std::string walkDetail_;
};

}  // namespace varnok
