// TUnCab: extraction of Microsoft cabinets through the cabinet engine library ("libvarnok-cabinet.so", the
// FDI interface), including sets of cabinets whose files continue from one cabinet into the next.
//
// The library drives the extraction: it tells of each file in a notification, takes a handle for it and
// then pushes the decoded bytes into the write callback, ending with a close notification. The extraction
// base wants the opposite shape (the per-entry sequence calls a decoder that writes into the entry's sink),
// so the library's copy runs on a second thread and hands every notification and data block over to the
// run's thread one at a time, waiting for the answer: the base's selection, overwrite decision, safe output
// naming, events and sink all stay on the caller's thread, the data stream is never buffered, and the
// library never decodes ahead of the caller's decision on a file.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/core/unbase.h"
#include "engines/cabinet/fdi.h"
#include "platform/file.h"

namespace varnok {

// An FDI failure: "Cabinet error %d (type %d)" with the ERF record's operation and type.
class ECabinetError : public std::runtime_error {
  public:
    ECabinetError(int oper, int type);
    int Oper() const { return oper_; }
    int Type() const { return type_; }

  private:
    int oper_, type_;
};

// The file operations FDI calls on. Each reports a failure in result (the system's error number, or -1).
class TCabinetFileHandler {
  public:
    virtual ~TCabinetFileHandler() = default;
    // flags: FDI's open flags (FDI_O_...); -1 on failure.
    virtual intptr_t Open(const std::string& name, int flags, int mode, int& result) = 0;
    virtual unsigned Read(intptr_t handle, void* buffer, unsigned count, int& result) = 0;
    virtual unsigned Write(intptr_t handle, const void* buffer, unsigned count, int& result) = 0;
    virtual int Close(intptr_t handle, int& result) = 0;
    // origin 0 from the start, 1 from the current position, 2 from the end; the new position, or -1.
    virtual long Seek(intptr_t handle, long distance, int origin, int& result) = 0;
    virtual int Delete(const std::string& name, int& result) = 0;
};

// Files opened as streams, found by their handle.
class TStreamCabinetFileHandler : public TCabinetFileHandler {
  public:
    intptr_t Open(const std::string& name, int flags, int mode, int& result) override;
    unsigned Read(intptr_t handle, void* buffer, unsigned count, int& result) override;
    unsigned Write(intptr_t handle, const void* buffer, unsigned count, int& result) override;
    int Close(intptr_t handle, int& result) override;
    long Seek(intptr_t handle, long distance, int origin, int& result) override;
    int Delete(const std::string& name, int& result) override;
    size_t OpenCount() const { return streams_.size(); }

    // Handles below this are not the handler's (1 stands for the output of the file being extracted).
    static constexpr intptr_t kFirstHandle = 2;

  private:
    std::map<intptr_t, std::unique_ptr<platform::File>> streams_;
    intptr_t next_ = kFirstHandle;
};

// What the first cabinet notification of a pass tells of the set.
struct TCabStruct {
    std::string NextCabinet, NextDisk, CabinetPath;
    uint16_t SetId = 0;
    uint16_t CabinetNumber = 0;
};

class TUnCab : public TUnBase {
  public:
    TUnCab();
    ~TUnCab() override;

    // Whether the cabinet library is there (it is looked for once per process, on first use).
    static bool LibraryLoaded();

    class Channel;  // the hand-over between the library's thread and the run's

  protected:
    void ProcessArchive() override;
    bool AcceptsType(TArcType t) const override;

  private:
    friend struct CabCallbacks;
    struct Listed {
        std::string name;
        uint32_t size;
        uint16_t date, time, attribs;
    };

    ArchiveEntry EntryOf(const std::string& raw, uint32_t size, uint16_t date, uint16_t time,
                         uint16_t attribs) const;
    // FDICopy over one cabinet; false when it failed with the ERF record set.
    bool Copy(const std::string& cabinet);
    void ListingPass(const std::string& cabinet, bool decideNames);
    void ExtractionPass(const std::string& cabinet);
    void CopyFile(const std::string& raw, uint32_t size, uint16_t date, uint16_t time, uint16_t attribs);
    intptr_t NextCabinet(char* name, char* dir, int fdie);
    // Reports an FDI failure that no file's report explained; a failure of the run.
    void CabinetFailed(const std::string& cabinet, const ECabinetError& e);

    HFDI fdi_ = nullptr;
    ERF erf_{};
    TStreamCabinetFileHandler handler_;
    bool listing_ = false;
    bool captureNext_ = false;
    TCabStruct next_;
    std::vector<Listed> listed_;
    Channel* channel_ = nullptr;
    ERF lastFileFailure_{};
    bool fileFailed_ = false;
    // Next cabinets by their stored name (upper case): the full name confirmed, or refused.
    std::map<std::string, std::string> confirmed_;
    std::set<std::string> refused_;
};

}  // namespace varnok
