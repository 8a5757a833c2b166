/* The extract engine library "libvarnok-unzdll.so": its two entry points and the records they take.
 *
 * A C header. Field offsets in the comments are those of a 32-bit build; on a 64-bit build the pointer fields
 * widen and the fields after them move (UNZ_EXEC_LAYOUT and UNZ_EXEC_OLD_LAYOUT list every field so that
 * tests can check both layouts). Flags are 32-bit values: nonzero (-1) for true, 0 for false.
 *
 * File patterns select entries by name. A pattern holds "*" and "?", matched ignoring
 * the case of ASCII letters; one with a folder part also selects entries below matching folders. A
 * pattern that begins with "\" names one entry exactly: the rest is compared byte for byte with the
 * entry's full name (a trailing "/" selects that folder and everything below it). Entry names never begin
 * with "\" (a stored "\" is read as "/"), so the marker cannot clash with a real name. No pattern at
 * all selects every entry.
 */
#ifndef VARNOK_ENGINES_UNZDLL_H
#define VARNOK_ENGINES_UNZDLL_H

#include <stdint.h>

#include "engines/zip_callback.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The version this library reports (1.60). Callers build UnzExecRecord for a library above 151 and
 * UnzExecRecordOld for 151 and below; extraction to memory needs 160. */
#define UNZDLL_VERSION 160

/* One file pattern of UnzExecRecord (72 bytes on a 32-bit build). */
typedef struct UnzFileData {
    const char* FileSpec; /*  0: zero-terminated pattern */
    int32_t Reserved[17]; /*  4: zero */
} UnzFileData;

/* The extract parameter record (148 bytes on a 32-bit build), zero-filled by the caller. */
typedef struct UnzExecRecord {
    void* Handle;         /*   0: parent window of the caller, 0 when unattended */
    void* Caller;         /*   4: caller value, returned in every callback record */
    int32_t Version;      /*   8: interface version of the caller (160) */
    ZipCallback Callback; /*  12: progress and questions; may be 0 */
    int32_t TraceEnabled; /*  16: trace messages */
    int32_t Reserved20;   /*  20 */
    const char* Password; /*  24: password (at most 80 characters) or 0 */
    int32_t Test;         /*  28: test the entries instead of extracting them */
    int32_t Reserved32;   /*  32 */
    int32_t Reserved36;   /*  36 */
    int32_t AlwaysTrue;   /*  40: always -1 */
    int32_t Verbose;      /*  44: a message per entry */
    int32_t Update;       /*  48: extract missing files and files older than the entry */
    int32_t Freshen;      /*  52: replace existing files older than the entry only */
    int32_t
        Directories;   /*  56: recreate the stored folders (otherwise every file lands in the destination) */
    int32_t Overwrite; /*  60: default answer to the overwrite question */
    int32_t ArgCount;  /*  64: number of entries in FileData */
    const char* ZipFileName;  /*  68: the archive (for a split set: its last part) */
    UnzFileData* FileData;    /*  72: the file patterns */
    int32_t Reserved76;       /*  76 */
    int32_t ExtractToMemory;  /*  80: extract the entry named by the first pattern into MemoryBlock */
    void* MemoryBlock;        /*  84: the memory block */
    uint32_t MemoryBlockSize; /*  88: its size (the entry's unpacked size) */
    int32_t Reserved92[3];    /*  92 */
    int32_t PasswordReqCount; /* 104: how often a password may be asked for per entry (0-15) */
    const char* ExtractDir; /* 108: destination folder; 0 means the current folder (this system's addition) */
    const char* NameCodePage; /* 112: code page of the names not flagged UTF-8 ("CP866"), 0 to decide it from
                                 the names as the caller's directory reader does (this system's addition) */
    uint32_t MaxRatio;   /* 116: refuse an entry decoding to more than this many times its packed size (and to
                            more than 64 MiB); 0: the default (1,000,000), 0xFFFFFFFF: no limit (this system's
                            addition) */
    uint32_t MaxSizeMiB; /* 120: write at most this many MiB in one run; 0: the destination's free space (this
                            system's addition) */
    int32_t Reserved124[5]; /* 124 */
    int32_t Seven;          /* 144: the value 7 */
} UnzExecRecord;

/* Number of pattern pointers in UnzExecRecordOld. */
#define UNZ_OLD_MAX_SPECS 4097

/* The record of libraries of version 151 and below (16464 bytes on a 32-bit build). */
typedef struct UnzExecRecordOld {
    void* Handle;                             /*   0 */
    void* Caller;                             /*   4 */
    int32_t Version;                          /*   8 */
    ZipCallback Callback;                     /*  12 */
    int32_t TraceEnabled;                     /*  16 */
    int32_t Reserved20;                       /*  20 */
    const char* Password;                     /*  24 */
    int32_t Test;                             /*  28 */
    int32_t Reserved32;                       /*  32 */
    int32_t Reserved36;                       /*  36 */
    int32_t AlwaysTrue;                       /*  40 */
    int32_t Verbose;                          /*  44 */
    int32_t Update;                           /*  48 */
    int32_t Freshen;                          /*  52 */
    int32_t Directories;                      /*  56 */
    int32_t Overwrite;                        /*  60 */
    int32_t ArgCount;                         /*  64 */
    const char* ZipFileName;                  /*  68 */
    int32_t Seven;                            /*  72: the value 7 */
    const char* FileSpecs[UNZ_OLD_MAX_SPECS]; /* 76 */
} UnzExecRecordOld;

/* The library's own error values (20 of zacMessage and zacSkipped). */
enum UnzDllError {
    uenOk = 0,        /* information */
    uenWarning = 1,   /* something was not as it should be; the run went on */
    uenArguments = 2, /* the parameter record cannot be used (no archive name, bad count, missing 7,
                         a password longer than 80 characters) */
    uenArchive = 3,   /* the archive is missing, cannot be read or is not a ZIP archive */
    uenFormat = 4,    /* a header or the central directory is damaged */
    uenData = 5,      /* damaged compressed data or a CRC mismatch */
    uenPassword = 6,  /* no password or a wrong one */
    uenMethod = 7,    /* compression method or encryption not supported */
    uenWrite = 8,     /* an output folder or file could not be created or written */
    uenName = 9,      /* the stored name leads outside the destination */
    uenMemory = 10,   /* out of memory, or the memory block does not fit the entry */
    uenNoMatch = 11,  /* no entry matched the patterns */
    uenAborted = 12,  /* stopped by the caller */
    uenInternal = 13  /* an unexpected failure inside the library */
};

/* Extracts (or tests, or extracts one entry to memory) as the record says; returns the number of files that
 * were extracted or tested with a good result. A library of version 151 or below takes UnzExecRecordOld at
 * the same address. Never throws. */
typedef int32_t (*UnzDllExecFunc)(UnzExecRecord* record);
/* The library's version as an integer (160 for 1.60). */
typedef int32_t (*GetUnzDllVersionFunc)(void);

int32_t UnzDllExec(UnzExecRecord* record);
int32_t GetUnzDllVersion(void);

#define UNZ_EXEC_LAYOUT(X)                           \
    X(UnzExecRecord, Handle, 0, 4, 4, 1)             \
    X(UnzExecRecord, Caller, 4, 4, 4, 1)             \
    X(UnzExecRecord, Version, 8, 4, 4, 0)            \
    X(UnzExecRecord, Callback, 12, 4, 4, 1)          \
    X(UnzExecRecord, TraceEnabled, 16, 4, 4, 0)      \
    X(UnzExecRecord, Reserved20, 20, 4, 4, 0)        \
    X(UnzExecRecord, Password, 24, 4, 4, 1)          \
    X(UnzExecRecord, Test, 28, 4, 4, 0)              \
    X(UnzExecRecord, Reserved32, 32, 4, 4, 0)        \
    X(UnzExecRecord, Reserved36, 36, 4, 4, 0)        \
    X(UnzExecRecord, AlwaysTrue, 40, 4, 4, 0)        \
    X(UnzExecRecord, Verbose, 44, 4, 4, 0)           \
    X(UnzExecRecord, Update, 48, 4, 4, 0)            \
    X(UnzExecRecord, Freshen, 52, 4, 4, 0)           \
    X(UnzExecRecord, Directories, 56, 4, 4, 0)       \
    X(UnzExecRecord, Overwrite, 60, 4, 4, 0)         \
    X(UnzExecRecord, ArgCount, 64, 4, 4, 0)          \
    X(UnzExecRecord, ZipFileName, 68, 4, 4, 1)       \
    X(UnzExecRecord, FileData, 72, 4, 4, 1)          \
    X(UnzExecRecord, Reserved76, 76, 4, 4, 0)        \
    X(UnzExecRecord, ExtractToMemory, 80, 4, 4, 0)   \
    X(UnzExecRecord, MemoryBlock, 84, 4, 4, 1)       \
    X(UnzExecRecord, MemoryBlockSize, 88, 4, 4, 0)   \
    X(UnzExecRecord, Reserved92, 92, 12, 4, 0)       \
    X(UnzExecRecord, PasswordReqCount, 104, 4, 4, 0) \
    X(UnzExecRecord, ExtractDir, 108, 4, 4, 1)       \
    X(UnzExecRecord, NameCodePage, 112, 4, 4, 1)     \
    X(UnzExecRecord, MaxRatio, 116, 4, 4, 0)         \
    X(UnzExecRecord, MaxSizeMiB, 120, 4, 4, 0)       \
    X(UnzExecRecord, Reserved124, 124, 20, 4, 0)     \
    X(UnzExecRecord, Seven, 144, 4, 4, 0)
#define UNZ_EXEC_RECORD_SIZE_32 148

#define UNZ_FILE_DATA_LAYOUT(X)          \
    X(UnzFileData, FileSpec, 0, 4, 4, 1) \
    X(UnzFileData, Reserved, 4, 68, 4, 0)
#define UNZ_FILE_DATA_SIZE_32 72

#define UNZ_EXEC_OLD_LAYOUT(X)                     \
    X(UnzExecRecordOld, Handle, 0, 4, 4, 1)        \
    X(UnzExecRecordOld, Caller, 4, 4, 4, 1)        \
    X(UnzExecRecordOld, Version, 8, 4, 4, 0)       \
    X(UnzExecRecordOld, Callback, 12, 4, 4, 1)     \
    X(UnzExecRecordOld, TraceEnabled, 16, 4, 4, 0) \
    X(UnzExecRecordOld, Reserved20, 20, 4, 4, 0)   \
    X(UnzExecRecordOld, Password, 24, 4, 4, 1)     \
    X(UnzExecRecordOld, Test, 28, 4, 4, 0)         \
    X(UnzExecRecordOld, Reserved32, 32, 4, 4, 0)   \
    X(UnzExecRecordOld, Reserved36, 36, 4, 4, 0)   \
    X(UnzExecRecordOld, AlwaysTrue, 40, 4, 4, 0)   \
    X(UnzExecRecordOld, Verbose, 44, 4, 4, 0)      \
    X(UnzExecRecordOld, Update, 48, 4, 4, 0)       \
    X(UnzExecRecordOld, Freshen, 52, 4, 4, 0)      \
    X(UnzExecRecordOld, Directories, 56, 4, 4, 0)  \
    X(UnzExecRecordOld, Overwrite, 60, 4, 4, 0)    \
    X(UnzExecRecordOld, ArgCount, 64, 4, 4, 0)     \
    X(UnzExecRecordOld, ZipFileName, 68, 4, 4, 1)  \
    X(UnzExecRecordOld, Seven, 72, 4, 4, 0)        \
    X(UnzExecRecordOld, FileSpecs, 76, 16388, 4, 1)
#define UNZ_EXEC_OLD_RECORD_SIZE_32 16464

#ifdef __cplusplus
}
#endif

#endif
