// TUnArj: extraction of ARJ archives (plain and self-extracting): methods 0 to 4, garbled entries, folders,
// Unix hosts' modes and times, and multi-volume sets whose files continue from one volume into the next.
#pragma once

#include <cstdint>
#include <string>

#include "archive/formats/arj/arj_walk.h"
#include "archive/core/unbase.h"

namespace varnok {

class TUnArj : public TUnBase {
  protected:
    void ProcessArchive() override;
    bool AcceptsType(TArcType t) const override;

  private:
    // Where the walk stands after a file that continued into later volumes.
    struct Chain {
        bool moved = false;          // the parts led into another volume
        bool complete = false;       // every part was read
        bool lastContinues = false;  // the last part read continues in a further volume
        bool volumeMissing = false;  // the next volume could not be had
        int volumesMoved = 0;
        uint64_t resumePos = 0;  // the header after the last part read, in the current volume
        arj::Header main;        // the current volume's main header
    };

    // The entry record of a header, its name decoded with the run's decision.
    ArchiveEntry EntryFor(const arj::Header& h) const;
    void HandleEntry(const arj::Header& h, Chain& chain);
    // Opens the next volume of the set (OnNextVolume names it).
    bool NextVolume();
    // Decodes one part into out; garbled data is decrypted with Password.
    DecodeResult DecodePart(const arj::Header& part, ByteSink& out);
    // Decodes a file: its first part and, when it continues, the parts at the start of the following volumes,
    // each checked against its own CRC-32.
    DecodeResult DecodeFile(const arj::Header& first, ByteSink& out, Chain& chain);
    // Whether a password decodes the entry's first part to its CRC-32.
    bool PasswordFits(const arj::Header& h, const std::string& password);

    uint8_t encryptionVersion_ = 0;  // from the main header: 0 and 1 garbling, higher GOST ciphers
    std::string skipContinuation_;   // raw name of a split file whose earlier part was not written
};

}  // namespace varnok
