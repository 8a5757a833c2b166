#include "archive/core/lister.h"

#include "archive/core/format.h"
#include "archive/core/utils.h"
#include "platform/fileattr.h"

namespace varnok {

TArcLister::TArcLister() {
    SetZipCmntBufSize(32000);
}

bool TArcLister::StopRequested() {
    if (ProcessMessages) ProcessMessages();
    return Cancel();
}

void TArcLister::Report(ListEntry& e) {
    if (OnReadFile) OnReadFile(*this, e.EntryName);
    if (!e.WholeFile && !SpecMatch(e.EntryName)) return;
    if (e.IsDirectory || e.IsVolumeLabel) {
        if (!ShowEmptyDirs) return;
    } else if (!e.NotCounted) {
        ++FileCount;
        TotalPacked += e.PackedSize;
        TotalUnpacked += e.UnpackedSize;
    }
    e.Ratio = RatioOf(e.PackedSize, e.UnpackedSize);
    e.FileNum = ++reported_;
    entry_ = e;
    if (OnReadBegin) OnReadBegin(*this);
    if (OnRead) OnRead(*this, entry_.Offset, entry_.FileNum);
    if (OnReadEnd) OnReadEnd(*this);
}

bool TArcLister::ReadArchive() {
    BeginRun();
    reported_ = 0;
    walkError_ = 0;
    walkDetail_.clear();
    ExcludeSpec.clear();
    if (ArchiveFile().empty() || !platform::PathExists(ArchiveFile())) {
        ReportError(ArchiveFile(), "", E_FileNotFound);
        return false;
    }
    if (!OnRead) {
        ReportMissingEvent("OnRead");
        return false;
    }
    TArcType t = ArcType();
    if (t == atNA || t == atUnknown || t == atUnsupported) {
        ReportError(ArchiveFile(), "", E_UnknownFileType);
        return false;
    }
    if (t == atFileOpenErr) {
        ReportError(ArchiveFile(), "", E_FileNotFound);
        return false;
    }
    if (!OpenArchiveForRead()) {
        ReportError(ArchiveFile(), platform::LastErrorText(), E_ReadFile);
        return false;
    }
    bool ok = true;
    bool activated = false;
    try {
        activated = true;
        if (OnActivate) OnActivate(*this);
        Walk();
        if (OnTotals)
            OnTotals(*this, TotalUnpacked, TotalPacked, RatioOf(TotalPacked, TotalUnpacked), FileCount);
    } catch (const RunCancelled&) {
    } catch (const ArchiveError&) {
        ok = false;
    } catch (const std::exception& ex) {
        ReportError(ArchiveFile(), ex.what(), E_ReadFile);
        ok = false;
    }
    EndRun(activated);
    return ok;
}

void TArcLister::Walk() {
    const FormatRecord* f = FormatOf(ArcType());
    if (!f || !f->walk) {
        ReportError(ArchiveFile(), "", E_UnknownFileType);
        return;
    }
    std::unique_ptr<EntryWalk> walk = f->walk(*this);
    // The code page of the names is decided from all of them (from the first volume's, for a set of volumes,
    // as the extractors decide). Entries are reported as they are read while their texts read the same
    // whatever is decided (ASCII, as most are); from the first one that does not, the rest wait for the
    // decision.
    std::vector<ListEntry> entries;
    BeginNames();
    ListEntry e;
    size_t read = 0;
    bool waiting = false;
    while (!StopRequested() && walk->Next(e)) {
        ++read;
        if (!walk->PastFirstVolume()) SampleTexts(e, names_);
        waiting = waiting || !TextsSettled(e, names_);
        if (waiting) {
            entries.push_back(std::move(e));
        } else {
            DecodeTexts(e, names_);
            Report(e);
        }
        e = ListEntry{};
    }
    if (walk->Error()) {
        walkError_ = walk->Error();
        walkDetail_ = walk->ErrorDetail();
        // A damaged first header is said; one after good entries ends the walk quietly, the entries before
        // it standing.
        if (read == 0)
            ReportError(CurrentVolume.empty() ? ArchiveFile() : CurrentVolume, walk->ErrorDetail(),
                        walk->Error());
    }
    names_.Decide();
    for (ListEntry& x : entries) {
        DecodeTexts(x, names_);
        Report(x);
    }
}

}  // namespace varnok
