// Archive conversion: an archive of any readable type becomes an archive of a writable type, by extracting it
// with the extractor of its type into a private folder, packing that folder with the target type's writer,
// testing the result with the integrity tester, and removing what it made.
//
// Why it is built this way: the converter decodes and encodes nothing itself, so a converted archive holds
// exactly what the two families' own code reads and writes. The safety rules are the converter's own:
// - The working folder is made with mkdtemp (mode 0700) in TempDir, and only that folder is removed afterwards,
//   without following links that the source archive may have planted in it; nothing is looked up by a
//   predictable name in a shared folder.
// - The target is built under a private name beside it and takes its place in one rename, only after every
//   entry came out of the source, the writer finished, and the test (IntegrityCheck) passed. A failed or
//   stopped conversion leaves no partial target, and an existing target as it was (also when adding to it).
// - A target is encrypted only with the password its source actually needed (or one given for the target):
//   passwords collected for other archives of a batch never end up encrypting an unencrypted one.
#pragma once

#include <functional>
#include <string>

#include "archive/core/component.h"
#include "archive/core/unbase.h"

namespace varnok {

enum TOutArcMethod { amCreateNew, amAddToArc };
enum TOutArcType { tyBh, tyCab, tyGzipTar, tyLzh, tyTar, tyZip, tyJar };

class TArc2Arc : public TZipCommon {
  public:
    TArc2Arc();

    bool IntegrityCheck = true;
    std::string NewArchive;
    TOutArcMethod OutArcMethod = amCreateNew;
    TOutArcType OutArcType = tyBh;
    // A password to encrypt the target with (ZIP, JAR and BH only); empty: the one the source needed, if any.
    std::string TargetPassword;
    // The decompression-bomb limit of the extraction (see TUnBase::MaxRatio).
    uint64_t MaxRatio = 1'000'000;

    TNotifyEvent OnExtractActivate, OnExtractDeactivate;
    TOnBegin OnExtractBegin;
    TOnEnd OnExtractEnd;
    TNotifyEvent OnCompressActivate, OnCompressDeactivate;
    TOnBegin OnCompressBegin;
    TOnEnd OnCompressEnd;
    TNotifyEvent OnIntegrityActivate, OnIntegrityDeactivate;
    TOnIntegrityBegin OnIntegrityBegin;
    TOnIntegrityEnd OnIntegrityEnd;
    TOnIntegrityStatus OnIntegrityStatus;
    // Asked before an existing target is replaced (amCreateNew with ConfirmOverwrites): omSkip keeps it.
    std::function<void(TZipCommon& sender, const std::string& fileName, TOverwriteMode& mode)> OnFileExists;
    TOnGetPassword OnGetPassword;
    TOnRemoveTempfile OnRemoveTempfile;

    // The file extension of a target type (".bh", ".cab", ".tgz", ".lzh", ".tar", ".zip", ".jar").
    static std::string TargetExtension(TOutArcType t);
    // Whether a target type has a writer here.
    static bool CanWrite(TOutArcType t);

    // Converts ArchiveFile into NewArchive. True when the target is in place (and passed its test when
    // IntegrityCheck is set). Errors go to OnError, once each.
    bool Convert();

    // Of the last Convert: entries extracted from the source and files packed into the target.
    int Extracted() const { return extracted_; }
    int Packed() const { return packed_; }
    // Whether the target is encrypted (with the source's password or TargetPassword).
    bool TargetEncrypted() const { return encrypted_; }

  private:
    bool Run(const std::string& work);
    int extracted_ = 0, packed_ = 0;
    bool encrypted_ = false;
};

}  // namespace varnok
