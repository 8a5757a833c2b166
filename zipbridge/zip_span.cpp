// Spanned ZIP sets on the bridge: WriteSpan spreads a ZIP file over volumes, ReadSpan joins a set again.
//
// The byte layout is the archive library's (archive/formats/zip/zip_spanset.h); what lives here is the disk
// handling around it: the prompts for disks, the questions about files already on a disk or a disk too full,
// the volume labels, the volume names on fixed drives, and the promise that nothing is lost.
//
// Every volume is written under a private temporary name (mkstemps, beside its final name) and renamed when it
// is complete. On a fixed drive the renames wait until the whole set is written, so a failure or a cancel
// leaves no volume and no file of a volume's name changed; this also lets the "zip -s" naming give the last
// volume its ".zip" name once it is known to be the last. A removable disk leaves the drive when it is full,
// so its volume is renamed then; on failure only the disk in the drive is cleaned. A joined file is written
// under a temporary name beside its target and renamed over it at the end.
//
// Disks are recognised by their labels ("PKBACK# 001", ...), as other tools write them. Every prompt loop is
// bounded: a handler that keeps inserting the wrong disk ends the operation instead of asking for ever.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "archive/core/zip_records.h"
#include "archive/formats/zip/zip_spanset.h"
#include "platform/drive.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"
#include "zipbridge/messages.h"
#include "zipbridge/zip_bridge.h"

namespace varnok {
namespace {

// A failure of a span operation with its message number.
struct SpanAbort {
    int id;
    std::string extra;
    bool show = true;
};

// How often one disk or volume is asked for before the operation gives up.
constexpr int kMaxAttempts = 32;

std::string Label(int disk) {
    char buf[32];
    snprintf(buf, sizeof buf, "PKBACK# %03d", disk + 1);
    return buf;
}

// The number in a "PKBACK# NNN" label, 1 when there is none.
int LabelNumber(const std::string& label) {
    if (label.rfind("PKBACK# ", 0) != 0) return 1;
    std::string d = label.substr(8, 3);
    return d.size() == 3 && IsDigits(d) ? std::stoi(d) : 1;
}

std::string Stem(const std::string& path) {
    std::string ext = ExtractFileExt(path);
    return path.substr(0, path.size() - ext.size());
}

// archive.zip, volume 0: archive001.zip.
std::string NumberedName(const std::string& path, int disk) {
    char num[24];
    snprintf(num, sizeof num, "%03d", disk + 1);
    return Stem(path) + num + ExtractFileExt(path);
}

std::string Z01Name(const std::string& path, int disk) {
    char ext[24];
    snprintf(ext, sizeof ext, ".z%02d", disk + 1);
    return Stem(path) + ext;
}

std::string Dir(const std::string& path) {
    std::string d = ExtractFilePath(path);
    return d.empty() ? "." : RemoveSlash(d);
}

mode_t FileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int MessageOf(zip::SpanFault f, bool writing) {
    using F = zip::SpanFault;
    switch (f) {
        case F::NotZip:
            return 11036;
        case F::ReadCentral:
            return 11013;
        case F::CentralSig:
            return 11015;
        case F::ReadLocal:
            return 11012;
        case F::LocalSig:
            return 11014;
        case F::LocalNotFound:
            return 11026;
        case F::ReadData:
            return 11021;
        case F::ReadComment:
            return 11023;
        case F::UnitTooLarge:
        case F::TooManyVolumes:
            return 11032;
        case F::OffsetTooLarge:
            return writing ? 11029 : 11030;
        case F::Write:
            return 11010;
    }
    return 11024;
}

}  // namespace

// Asks for disks the way both operations do.
struct TZipBridge::SpanWriter : zip::VolumeSink {
    TZipBridge& b;
    std::string input;
    std::string output;  // the name as given (removable) or the set's base name (fixed)
    bool removable = false;
    std::string root;
    int64_t inputTime = 0;
    uint64_t archiveSize = 0;
    bool newDiskNeeded = true;
    int lastEstimate = 0;
    platform::File vol;
    std::string volTemp;
    std::vector<std::string> temps;  // finished volumes waiting for their names (fixed drive)

    explicit SpanWriter(TZipBridge& bridge) : b(bridge) {}
    ~SpanWriter() override { Abort(); }

    void Poll() override {
        if (b.ProcessMessages) b.ProcessMessages();
        if (b.Cancel()) throw SpanAbort{11007, {}, false};
    }
    void Entry(const std::string& name, uint64_t bytes) override {
        std::string shown = name.empty() ? BridgeMessageText(11047) : name;
        if (b.OnMessage) b.OnMessage(b, 0, BridgeMessageText(10105) + shown);
        if (b.OnProgress) b.OnProgress(b, 0, shown, static_cast<int64_t>(bytes));
    }

    void AskDisk(int disk) {
        if (b.ProcessMessages) b.ProcessMessages();
        if (b.Unattended) throw SpanAbort{11025};
        platform::DriveFacts df = platform::QueryDrive(output);
        uint64_t capacity = df.totalBytes;
        if (b.MaxVolumeSize > 0) capacity = std::min<uint64_t>(capacity, static_cast<uint64_t>(b.MaxVolumeSize));
        lastEstimate = std::max(lastEstimate, disk);
        if (capacity > 0) {
            uint64_t est = (archiveSize + static_cast<uint64_t>(std::max<int64_t>(b.KeepFreeOnDisk1, 0)) + 4) / capacity;
            lastEstimate = std::max<int>(lastEstimate, static_cast<int>(std::min<uint64_t>(est, 0xFFFE)));
        }
        bool abort = false;
        if (b.OnGetNextDisk) {
            b.OnGetNextDisk(b, disk + 1, lastEstimate + 1, root, abort);
        } else if (b.QuestionBox) {
            std::string text = capacity > 0
                                   ? b.FormatMessage(11034, {std::to_string(disk + 1), std::to_string(lastEstimate + 1)})
                                   : b.FormatMessage(11046, {std::to_string(disk + 1)});
            text += b.FormatMessage(11035, {root});
            abort = b.QuestionBox("Varnok", text, 0) == zdaCancel;
        } else {
            throw SpanAbort{11025};
        }
        if (abort) throw SpanAbort{11007, {}, false};
    }

    // The answer to a question about the volume about to be written.
    int AskStatus(int labelNumber, const std::string& file, int status, const std::string& text, int kind) {
        if (b.Unattended) throw SpanAbort{11025};
        int action = zdaOk;
        if (b.OnStatusDisk)
            b.OnStatusDisk(b, labelNumber, file, status, action);
        else if (b.QuestionBox)
            action = b.QuestionBox(kind == 1 ? "Confirm" : "Varnok", text, kind);
        else
            throw SpanAbort{status & zdsNotEnoughSpace ? 11032 : 11025};
        return action;
    }

    // The names a volume may take on a fixed drive (the last volume of a "zip -s" set ends up as the name
    // given, so that is asked about with the first).
    std::vector<std::string> FinalNames(int disk) const {
        if (removable) return {output};
        if (b.SpanNaming == snZ01) {
            std::vector<std::string> v{Z01Name(output, disk)};
            if (disk == 0) v.push_back(output);
            return v;
        }
        return {NumberedName(output, disk)};
    }

    uint64_t OpenVolume(int disk) override {
        for (int attempt = 0;; ++attempt) {
            if (attempt >= kMaxAttempts) throw SpanAbort{11032, ": no usable disk was given"};
            Poll();
            if (removable && (newDiskNeeded || !platform::QueryDrive(output).ready)) AskDisk(disk);
            newDiskNeeded = false;
            platform::DriveFacts df = platform::QueryDrive(output);
            bool again = false;
            uint64_t replaced = 0;
            for (const std::string& name : FinalNames(disk)) {
                if (!platform::PathExists(name)) continue;
                if (SameFile(name, input)) throw SpanAbort{11009, ": " + name + " is the archive being spanned"};
                int number = LabelNumber(df.label);
                bool previous = platform::FileMTime(name) == inputTime && number - 1 < disk;
                int status = previous ? zdsPreviousDisk : zdsSameFileName;
                status |= df.freeBytes >= df.totalBytes ? zdsEmpty : zdsHasFiles;
                std::string text = previous ? b.FormatMessage(11040, {std::to_string(number)})
                                            : b.FormatMessage(11039, {name});
                int action = AskStatus(number, name, status, text, 1);
                if (action == zdaCancel) throw SpanAbort{11007, {}, false};
                if (action == zdaReject) {
                    // On a fixed drive there is no other disk to take: not overwriting ends the operation.
                    if (!removable) throw SpanAbort{11007, {}, false};
                    again = true;
                    break;
                }
                if (removable) replaced = static_cast<uint64_t>(std::max<int64_t>(platform::FileSizeOf(name), 0));
            }
            if (again) {
                newDiskNeeded = true;
                continue;
            }
            volTemp = platform::CreateTempFile(Dir(output), "." + ExtractFileName(output) + ".", ".tmp", &vol);
            if (volTemp.empty()) throw SpanAbort{11009, ": " + platform::LastErrorText()};
            // A private temporary file, but a volume like any other file once it is in place.
            fchmod(vol.Fd(), FileMode());
            uint64_t free = df.freeBytes + replaced;
            if (b.MaxVolumeSize > 0) free = std::min<uint64_t>(free, static_cast<uint64_t>(b.MaxVolumeSize));
            if (disk == 0) {
                uint64_t keep = static_cast<uint64_t>(std::max<int64_t>(b.KeepFreeOnDisk1, 0));
                free = free > keep ? free - keep : 0;
            }
            if (free < static_cast<uint64_t>(std::max<int64_t>(b.MinFreeVolumeSize, 1))) {
                DropVolume();
                int action = AskStatus(LabelNumber(df.label), output, zdsNotEnoughSpace,
                                       BridgeMessageText(11032), 2);
                if (action == zdaCancel) throw SpanAbort{11007, {}, false};
                newDiskNeeded = true;
                continue;
            }
            if (removable && !platform::SetDriveLabel(df.root, Label(disk))) {
                DropVolume();
                throw SpanAbort{11005};
            }
            return free;
        }
    }

    bool Write(const uint8_t* p, size_t n) override {
        if (!vol.Write(p, n)) return false;
        if (b.OnProgress) b.OnProgress(b, 1, {}, static_cast<int64_t>(n));
        return true;
    }

    void CloseVolume(int disk, bool last) override {
        (void)disk;
        (void)last;
        if (!vol.Close()) throw SpanAbort{11010, ": " + platform::LastErrorText()};
        platform::SetFileTime(volTemp, inputTime);
        if (removable) {
            if (rename(volTemp.c_str(), output.c_str()) != 0)
                throw SpanAbort{11009, ": " + platform::LastErrorText()};
            b.spanVolumes_.push_back(output);
        } else {
            temps.push_back(volTemp);
        }
        volTemp.clear();
        newDiskNeeded = true;
    }

    // The whole set is written: the volumes of a fixed drive take their names.
    void Commit() {
        for (size_t i = 0; i < temps.size(); ++i) {
            int disk = static_cast<int>(i);
            bool last = i + 1 == temps.size();
            std::string name = b.SpanNaming == snZ01 ? (last ? output : Z01Name(output, disk))
                                                     : NumberedName(output, disk);
            if (rename(temps[i].c_str(), name.c_str()) != 0)
                throw SpanAbort{11009, ": " + name + ": " + platform::LastErrorText()};
            temps[i].clear();
            b.spanVolumes_.push_back(name);
        }
        temps.clear();
    }

    void DropVolume() {
        vol.Close();
        if (!volTemp.empty()) unlink(volTemp.c_str());
        volTemp.clear();
    }
    void Abort() {
        DropVolume();
        for (auto& t : temps)
            if (!t.empty()) unlink(t.c_str());
        temps.clear();
    }
};

struct TZipBridge::SpanReader : zip::VolumeSource {
    TZipBridge& b;
    std::string setName;
    bool removable = false;
    std::string root;
    platform::File f;
    int current = -2;  // the volume open in f (-1: the last, its number not yet known)
    int lastDisk = 0;
    bool z01 = false;

    explicit SpanReader(TZipBridge& bridge) : b(bridge) {}

    void Poll() override {
        if (b.ProcessMessages) b.ProcessMessages();
        if (b.Cancel()) throw SpanAbort{11007, {}, false};
    }
    void Entry(const std::string& name, uint64_t bytes) override {
        if (b.OnMessage) b.OnMessage(b, 0, BridgeMessageText(10105) + name);
        if (b.OnProgress) b.OnProgress(b, 0, name, static_cast<int64_t>(bytes));
    }

    void Ask(int seqNo, int total) {
        if (b.ProcessMessages) b.ProcessMessages();
        if (b.Unattended) throw SpanAbort{11025};
        bool abort = false;
        if (b.OnGetNextDisk) {
            b.OnGetNextDisk(b, seqNo, total, root, abort);
        } else if (b.QuestionBox) {
            std::string text = seqNo == 0 ? BridgeMessageText(11033)
                                          : b.FormatMessage(11034, {std::to_string(seqNo), std::to_string(total)});
            abort = b.QuestionBox("Varnok", text + b.FormatMessage(11035, {root}), 0) == zdaCancel;
        } else {
            throw SpanAbort{11025};
        }
        if (abort) throw SpanAbort{11007, {}, false};
    }

    static bool HasEnd(platform::File& file) {
        zip::EndRecord e;
        return zip::FindEndRecord(file, file.Size(), e);
    }

    platform::File& OpenLast() override {
        f.Close();
        if (!removable) {
            if (!f.Open(setName, platform::File::Mode::Read)) throw SpanAbort{11001, ": " + setName};
            if (!HasEnd(f)) {
                // Not the last volume: say which one it is when its name tells.
                std::string stem = Stem(setName);
                std::string digits = stem.size() >= 3 ? stem.substr(stem.size() - 3) : "";
                std::string ext = LowerAscii(ExtractFileExt(setName));
                int n = IsDigits(digits) && digits.size() == 3 ? std::stoi(digits) : 0;
                if (ext.size() == 4 && ext[1] == 'z' && IsDigits(ext.substr(2))) n = std::stoi(ext.substr(2));
                if (n == 1) throw SpanAbort{11037};
                if (n > 1) throw SpanAbort{11038, std::to_string(n)};
                throw SpanAbort{11036};
            }
            current = -1;
            return f;
        }
        for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
            // The disk in the drive is taken when it is the last one; otherwise the last one is asked for.
            if (attempt > 0 || !platform::QueryDrive(setName).ready) Ask(0, 0);
            if (f.Open(setName, platform::File::Mode::Read) && HasEnd(f)) {
                current = -1;
                return f;
            }
            f.Close();
        }
        throw SpanAbort{11033};
    }

    std::string PathOf(int disk) const {
        if (disk == lastDisk) return setName;
        if (z01) return ZipVolumeSet(setName, lastDisk).PathOf(disk);
        std::string stem = Stem(setName);
        char num[24];
        snprintf(num, sizeof num, "%03d", disk + 1);
        return stem.substr(0, stem.size() - 3) + num + ExtractFileExt(setName);
    }

    platform::File& Open(int disk, int last) override {
        if (current == -1) {
            // The last volume is open; from now on volumes are known by number.
            current = last;
            lastDisk = last;
        }
        if (disk == current && f.IsOpen()) return f;
        f.Close();
        current = -2;
        if (!removable) {
            if (!z01 && disk != last) {
                std::string stem = Stem(setName);
                if (stem.size() < 3 || !IsDigits(stem.substr(stem.size() - 3))) throw SpanAbort{11036};
            }
            std::string p = PathOf(disk);
            if (!f.Open(p, platform::File::Mode::Read)) throw SpanAbort{11001, ": " + p};
            current = disk;
            return f;
        }
        for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
            Ask(disk + 1, last + 1);
            platform::DriveFacts df = platform::QueryDrive(setName);
            if (df.label != Label(disk)) continue;  // not the disk asked for: ask again
            if (f.Open(setName, platform::File::Mode::Read)) {
                current = disk;
                return f;
            }
            b.Message(11001, ": " + setName);
        }
        throw SpanAbort{11001, ": " + Label(disk)};
    }
};

int TZipBridge::SpanResult(const std::function<void()>& run) {
    lastMessage_.clear();
    errCode_ = 0;
    try {
        run();
        if (OnProgress) OnProgress(*this, 2, {}, 0);
        return 0;
    } catch (const SpanAbort& a) {
        if (OnProgress) OnProgress(*this, 2, {}, 0);
        Message(a.id, a.extra, a.show);
        return -7;
    } catch (const zip::SpanError& e) {
        if (OnProgress) OnProgress(*this, 2, {}, 0);
        std::string extra = std::string(": ") + zip::SpanFaultText(e.fault);
        if (!e.detail.empty()) extra += " (" + e.detail + ")";
        Message(MessageOf(e.fault, true), extra);
        return -7;
    } catch (const std::bad_alloc&) {
        if (OnProgress) OnProgress(*this, 2, {}, 0);
        Message(10103);
        return -8;
    } catch (const std::exception& ex) {
        if (OnProgress) OnProgress(*this, 2, {}, 0);
        Message(11024, ex.what());
        return -9;
    }
}

int TZipBridge::WriteSpan(const std::string& input, const std::string& output) {
    spanVolumes_.clear();
    return SpanResult([&] {
        SpanWriter w(*this);
        w.input = input;
        w.output = output;
        platform::DriveFacts df = platform::QueryDrive(output);
        w.removable = df.kind == platform::dkRemovable;
        w.root = df.root;
        platform::File in;
        if (input.empty() || !in.Open(input, platform::File::Mode::Read)) throw SpanAbort{11001, ": " + input};
        if (w.removable && platform::QueryDrive(input).root == df.root)
            throw SpanAbort{11009, ": the archive to span lies on the drive of the disks"};
        w.inputTime = platform::FileMTime(input);
        w.archiveSize = in.Size();
        if (OnProgress) OnProgress(*this, 4, {}, static_cast<int64_t>(w.archiveSize));
        zip::WriteSpanSet(in, w);
        if (!w.removable) w.Commit();
    });
}

int TZipBridge::ReadSpan(const std::string& setName, std::string& output) {
    platform::File out;
    std::string temp, target;
    int r = SpanResult([&] {
        SpanReader rd(*this);
        rd.setName = setName;
        platform::DriveFacts df = platform::QueryDrive(setName);
        rd.removable = df.kind == platform::dkRemovable;
        rd.root = df.root;
        rd.z01 = !rd.removable && LowerAscii(ExtractFileExt(setName)) == ".zip" &&
                 !FindFileIgnoringCase(Stem(setName) + ".z01").empty();
        // The joined file: a new file in a folder, or a file of the given name replaced at the end.
        std::string dir;
        if (output.empty() || output.back() == '/' || platform::DirectoryExists(output)) {
            dir = output.empty() ? (TempDir.empty() ? platform::SystemTempDir() : TempDir) : output;
            temp = platform::CreateTempFile(RemoveSlash(dir), "zip", ".zip", &out);
            if (temp.empty()) throw SpanAbort{11027};
        } else {
            target = ExtractFileExt(output).empty() ? output + ".zip" : Stem(output) + ".zip";
            dir = Dir(target);
            temp = platform::CreateTempFile(dir, "." + ExtractFileName(target) + ".", ".tmp", &out);
            if (temp.empty()) throw SpanAbort{11009, ": " + platform::LastErrorText()};
        }
        if (rd.removable && platform::QueryDrive(temp).root == df.root)
            throw SpanAbort{11009, ": the joined file cannot go onto the drive of the disks"};
        zip::JoinSpanSet(rd, out);
        const int64_t time = platform::FileMTime(setName);  // the last volume's
        rd.f.Close();
        if (!out.Close()) throw SpanAbort{11010, ": " + platform::LastErrorText()};
        platform::SetFileTime(temp, time);
        if (!target.empty()) chmod(temp.c_str(), FileMode());
        if (!target.empty()) {
            if (!rd.removable)
                for (int d = 0; d <= rd.lastDisk; ++d)
                    if (SameFile(rd.PathOf(d), target)) throw SpanAbort{11009, ": it is a volume of the set"};
            if (rename(temp.c_str(), target.c_str()) != 0) throw SpanAbort{11009, ": " + platform::LastErrorText()};
            temp = target;
        }
        output = temp;
        temp.clear();
    });
    if (r != 0) {
        out.Close();
        if (!temp.empty()) unlink(temp.c_str());
        output.clear();
    }
    return r;
}

}  // namespace varnok
