/* The callback record through which the ZIP engine libraries report progress and ask their caller questions.
 *
 * A C header shared by the engines and by the bridge that drives them. The record's layout matches the
 * offsets given in the comments on a 32-bit build; on a 64-bit build the pointer fields widen and the fields
 * after them move accordingly (ZIP_CALLBACK_LAYOUT lists every field so that tests can check both layouts).
 */
#ifndef VARNOK_ENGINES_ZIP_CALLBACK_H
#define VARNOK_ENGINES_ZIP_CALLBACK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the text area, the terminating zero included. */
#define ZIP_CALLBACK_TEXT_SIZE 512

typedef struct ZipCallbackRecord {
    void* Handle;           /*   0: the caller's parent window (0 when unattended) */
    void* Caller;           /*   4: the caller value of the parameter record, unchanged */
    int32_t Version;        /*   8: the library's version (160 for 1.60) */
    int32_t IsOperationZip; /*  12: nonzero from the add/delete library, 0 from the extract library */
    int32_t ActionCode;     /*  16: one of the ZipCallbackAction values */
    int32_t ErrorCode;      /*  20: error value, flags or answer (per action) */
    int32_t FileSize;       /*  24: size, number or answer (per action); sizes are its low 32 bits */
    char Text[ZIP_CALLBACK_TEXT_SIZE]; /* 28: file name or message in; new name, password or comment out */
    uint32_t FileSizeHigh;             /* 540: high 32 bits of a size given at 24 (sizes of 4 GiB and more) */
} ZipCallbackRecord;

/* Called by the library; a nonzero result (-1, "true") asks the library to stop. */
typedef int32_t (*ZipCallback)(ZipCallbackRecord* record);

/* Action codes. */
enum ZipCallbackAction {
    zacNewFile = 1,      /* Text: entry name; 24: its size */
    zacProgress = 2,     /* 24: bytes just done */
    zacEndOfBatch = 3,   /* the run is over */
    zacMessage = 4,      /* Text: message; 20: the library's error value (0 for information) */
    zacTotalFiles = 5,   /* 24: number of files the run will process */
    zacTotalSize = 6,    /* 24: bytes the run will process */
    zacNewName = 7,      /* add library: Text: name; answer: Text: new name, 20: 1 when changed */
    zacPassword = 8,     /* Text: entry name; 20 bit 0: two entries (adding); 24: repeat count.
                            answer: 20: 1 with the password in Text, 0 for none; 24: repeat count (0-15) */
    zacCrcError = 9,     /* Text: entry name; 20: CRC found; 24: CRC stored.
                            answer: 20: 1 keep the data, 0 discard it, 2 no opinion (the library decides) */
    zacOverwrite = 10,   /* Text: existing file; 20 bit 0: it is older than the entry; 24: default answer.
                            answer: 24: nonzero to overwrite */
    zacSkipped = 11,     /* Text: entry name; 20: the library's error value; low byte of 24: ZipSkipType */
    zacFileComment = 12, /* add library: Text: name; answer: Text: comment, 20: changed, 24: its length */
    zacDisk = 13 /* Text: prompt; 24: wanted disk, 1-based (0 = the last disk of the set); 20 arrives as
                    1. answer: 20: 0 when the disk is in, nonzero to give up */
};

/* Why an entry was skipped (low byte of 24 with zacSkipped). */
enum ZipSkipType {
    zstExisting = 1,   /* the file exists and was not to be overwritten */
    zstNotNewer = 2,   /* update or freshen: the file on disk is not older than the entry */
    zstNotPresent = 3, /* freshen: there is no file to freshen */
    zstPassword = 4,   /* no password, or a wrong one */
    zstError = 5       /* the entry cannot be extracted; 20 tells why */
};

/* Every field of the record in order: type, field, offset on a 32-bit build, size there, alignment there,
 * and whether it is a pointer (pointers widen on 64-bit builds). */
#define ZIP_CALLBACK_LAYOUT(X)                        \
    X(ZipCallbackRecord, Handle, 0, 4, 4, 1)          \
    X(ZipCallbackRecord, Caller, 4, 4, 4, 1)          \
    X(ZipCallbackRecord, Version, 8, 4, 4, 0)         \
    X(ZipCallbackRecord, IsOperationZip, 12, 4, 4, 0) \
    X(ZipCallbackRecord, ActionCode, 16, 4, 4, 0)     \
    X(ZipCallbackRecord, ErrorCode, 20, 4, 4, 0)      \
    X(ZipCallbackRecord, FileSize, 24, 4, 4, 0)       \
    X(ZipCallbackRecord, Text, 28, 512, 1, 0)         \
    X(ZipCallbackRecord, FileSizeHigh, 540, 4, 4, 0)
#define ZIP_CALLBACK_RECORD_SIZE_32 544

#ifdef __cplusplus
}
#endif

#endif
