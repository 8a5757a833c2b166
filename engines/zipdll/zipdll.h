/* The add/delete engine library "libvarnok-zipdll.so": its two entry points and the records they take.
 *
 * A C header. Field offsets in the comments are those of a 32-bit build; on a 64-bit build the pointer fields
 * widen and the fields after them move (ZIP_EXEC_LAYOUT, ZIP_FILE_DATA_LAYOUT and ZIP_EXEC_OLD_LAYOUT list every
 * field so that tests can check both layouts). Flags are 32-bit values: nonzero (-1) for true, 0 for false;
 * the 16-bit flags are nonzero for true.
 *
 * File specifications for adding name files or folders on disk ("*" and "?" in the file-name part); a relative
 * one is taken from the entry's root folder (RootDir), else from the current folder, and stored relative to
 * it. For deleting they select entries: "*" and "?" matched ignoring the case of ASCII letters, or, when the
 * specification begins with "\", one entry by its exact full name (a trailing "/" selects that folder and
 * everything below it), as the extract library takes them.
 *
 * The archive is rebuilt in a temporary file beside it and put in place with one rename only when the whole
 * run succeeded; a failure or a stop from the callback leaves it byte for byte as it was, and files moved into
 * it are deleted only after the new archive is in place.
 */
#ifndef VARNOK_ENGINES_ZIPDLL_H
#define VARNOK_ENGINES_ZIPDLL_H

#include <stdint.h>

#include "engines/zip_callback.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The version this library reports (1.60). Callers build ZipExecRecord for a library above 150 and
 * ZipExecRecordOld for 150 and below. */
#define ZIPDLL_VERSION 160

/* One file specification of ZipExecRecord (104 bytes on a 32-bit build), zero-filled by the caller. */
typedef struct ZipFileData {
    const char* FileSpec;  /*   0: zero-terminated specification */
    int32_t Reserved4[2];  /*   4 */
    const char* Password;  /*  12: this specification's own password (at most 80 characters) or 0 */
    int32_t Encrypt;       /*  16: nonzero encrypts its files (with Password, else the record's password) */
    uint16_t Recurse;      /*  20: nonzero also searches the folders below */
    uint16_t Reserved22;   /*  22 */
    int32_t Reserved24[3]; /*  24 */
    const char* RootDir;   /*  36: folder relative specifications start from, names stored relative to; or 0 */
    int32_t Reserved40[16]; /* 40 */
} ZipFileData;

/* The add/delete parameter record (216 bytes on a 32-bit build), zero-filled by the caller. */
typedef struct ZipExecRecord {
    void* Handle;             /*   0: parent window of the caller, 0 when unattended */
    void* Caller;             /*   4: caller value, returned in every callback record */
    int32_t Version;          /*   8: interface version of the caller (160) */
    ZipCallback Callback;     /*  12: progress and questions; may be 0 */
    int32_t TraceEnabled;     /*  16: trace messages */
    const char* Password;     /*  20: password (at most 80 characters) or 0 */
    const char* SuffixList;   /*  24: suffixes stored without compression (".gif:.png:.z") or 0 for none */
    int32_t Encrypt;          /*  28: encrypt the added files; 0 for delete */
    int32_t SystemFiles;      /*  32: also hidden files (names beginning with ".") found by a search */
    int32_t Volume;           /*  36: volume label (no such thing here: accepted and ignored) */
    int32_t Reserved40;       /*  40 */
    int32_t NoDirEntries;     /*  44: no entries of their own for folders */
    int32_t Reserved48;       /*  48 */
    int32_t Verbose;          /*  52: a message per file */
    int32_t AlwaysTrue;       /*  56: always -1 */
    int32_t Level;            /*  60: compression level 0 (store) - 9 */
    int32_t Reserved64;       /*  64 */
    int32_t Reserved68;       /*  68 */
    int32_t JunkDir;          /*  72: store file names without their folders; 0 for delete */
    uint16_t Recurse;         /*  76: search the folders below (0xFFFF); 0 for delete */
    uint16_t Reserved78;      /*  78 */
    int32_t Grow;             /*  80: -1 for add, 0 for delete */
    int32_t ForceDOS;         /*  84: store new names in the 8.3 form */
    int32_t Move;             /*  88: delete the added files once the archive is in place; 0 for delete */
    int32_t DeleteEntries;    /*  92: -1 deletes the entries the specifications select */
    int32_t Update;           /*  96: add new files, replace entries by newer files only */
    int32_t Freshen;          /* 100: replace entries by newer files only, add nothing new */
    int32_t Reserved104;      /* 104 */
    int32_t LatestTime;       /* 108: give the archive the time of its newest entry */
    int32_t Reserved112;      /* 112 */
    int32_t Reserved116;      /* 116 */
    int32_t ArgCount;         /* 120: number of entries in FileData */
    const char* ZipFileName;  /* 124: the archive */
    const char* TempDir;      /* 128: folder for the temporary archive (used when it is on the archive's file
                                 system, where the finished archive can be renamed into place) or 0 */
    const char* ArchComment;  /* 132: the new archive comment, or 0 to keep the archive's */
    uint16_t ArchiveOnly;     /* 136: only files with the archive attribute (every regular file here) */
    uint16_t ResetArchive;    /* 138: clear the archive attribute (nothing to clear here) */
    ZipFileData* FileData;    /* 140: the file specifications */
    int32_t Reserved144;      /* 144 */
    int32_t ExclCount;        /* 148: number of exclusion patterns */
    const char** ExclSpecs;   /* 152: the exclusion patterns, compared with the stored names ("*.o" with the
                                 file name in every folder) */
    int32_t Reserved156[14];  /* 156 */
    int32_t Seven;            /* 212: the value 7 */
} ZipExecRecord;

/* Number of specification pointers in ZipExecRecordOld. */
#define ZIP_OLD_MAX_SPECS 4097

/* The record of libraries of version 150 and below (16520 bytes on a 32-bit build): the same fields up to the
 * archive name, then the value 7 and the specifications (no per-file settings, exclusions, temp folder or
 * comment). */
typedef struct ZipExecRecordOld {
    void* Handle;                             /*   0 */
    void* Caller;                             /*   4 */
    int32_t Version;                          /*   8 */
    ZipCallback Callback;                     /*  12 */
    int32_t TraceEnabled;                     /*  16 */
    const char* Password;                     /*  20 */
    const char* SuffixList;                   /*  24 */
    int32_t Encrypt;                          /*  28 */
    int32_t SystemFiles;                      /*  32 */
    int32_t Volume;                           /*  36 */
    int32_t Reserved40;                       /*  40 */
    int32_t NoDirEntries;                     /*  44 */
    int32_t Reserved48;                       /*  48 */
    int32_t Verbose;                          /*  52 */
    int32_t AlwaysTrue;                       /*  56 */
    int32_t Level;                            /*  60 */
    int32_t Reserved64;                       /*  64 */
    int32_t Reserved68;                       /*  68 */
    int32_t JunkDir;                          /*  72 */
    uint16_t Recurse;                         /*  76 */
    uint16_t Reserved78;                      /*  78 */
    int32_t Grow;                             /*  80 */
    int32_t ForceDOS;                         /*  84 */
    int32_t Move;                             /*  88 */
    int32_t DeleteEntries;                    /*  92 */
    int32_t Update;                           /*  96 */
    int32_t Freshen;                          /* 100 */
    int32_t Reserved104;                      /* 104 */
    int32_t LatestTime;                       /* 108 */
    int32_t Reserved112;                      /* 112 */
    int32_t Reserved116;                      /* 116 */
    int32_t ArgCount;                         /* 120 */
    const char* ZipFileName;                  /* 124 */
    int32_t Seven;                            /* 128: the value 7 */
    const char* FileSpecs[ZIP_OLD_MAX_SPECS]; /* 132 */
} ZipExecRecordOld;

/* The library's own error values (20 of zacMessage). */
enum ZipDllError {
    zenOk = 0,         /* information */
    zenWarning = 1,    /* something was not as it should be; the run went on */
    zenArguments = 2,  /* the parameter record cannot be used (no archive name, bad count, missing 7, a text too
                          long) */
    zenArchive = 3,    /* the archive cannot be read or is not a ZIP archive; it was not changed */
    zenFormat = 4,     /* the archive's headers are damaged; it was not changed */
    zenSource = 5,     /* a file to add is missing or cannot be read (it is left out) */
    zenPassword = 6,   /* encryption was asked for and no password was given */
    zenWrite = 7,      /* the new archive could not be written; the old one was not changed */
    zenNothing = 8,    /* nothing to do: no file found, no entry selected */
    zenMemory = 9,     /* out of memory */
    zenAborted = 10,   /* stopped by the caller; the archive was not changed */
    zenInternal = 11   /* an unexpected failure inside the library */
};

/* Adds or deletes as the record says; returns the number of files added (entries deleted), 0 when the archive
 * was left unchanged. A library of version 150 or below takes ZipExecRecordOld at the same address. Never
 * throws. */
typedef int32_t (*ZipDllExecFunc)(ZipExecRecord* record);
/* The library's version as an integer (160 for 1.60). */
typedef int32_t (*GetZipDllVersionFunc)(void);

int32_t ZipDllExec(ZipExecRecord* record);
int32_t GetZipDllVersion(void);

#define ZIP_EXEC_COMMON_LAYOUT(X, T)    \
    X(T, Handle, 0, 4, 4, 1)            \
    X(T, Caller, 4, 4, 4, 1)            \
    X(T, Version, 8, 4, 4, 0)           \
    X(T, Callback, 12, 4, 4, 1)         \
    X(T, TraceEnabled, 16, 4, 4, 0)     \
    X(T, Password, 20, 4, 4, 1)         \
    X(T, SuffixList, 24, 4, 4, 1)       \
    X(T, Encrypt, 28, 4, 4, 0)          \
    X(T, SystemFiles, 32, 4, 4, 0)      \
    X(T, Volume, 36, 4, 4, 0)           \
    X(T, Reserved40, 40, 4, 4, 0)       \
    X(T, NoDirEntries, 44, 4, 4, 0)     \
    X(T, Reserved48, 48, 4, 4, 0)       \
    X(T, Verbose, 52, 4, 4, 0)          \
    X(T, AlwaysTrue, 56, 4, 4, 0)       \
    X(T, Level, 60, 4, 4, 0)            \
    X(T, Reserved64, 64, 4, 4, 0)       \
    X(T, Reserved68, 68, 4, 4, 0)       \
    X(T, JunkDir, 72, 4, 4, 0)          \
    X(T, Recurse, 76, 2, 2, 0)          \
    X(T, Reserved78, 78, 2, 2, 0)       \
    X(T, Grow, 80, 4, 4, 0)             \
    X(T, ForceDOS, 84, 4, 4, 0)         \
    X(T, Move, 88, 4, 4, 0)             \
    X(T, DeleteEntries, 92, 4, 4, 0)    \
    X(T, Update, 96, 4, 4, 0)           \
    X(T, Freshen, 100, 4, 4, 0)         \
    X(T, Reserved104, 104, 4, 4, 0)     \
    X(T, LatestTime, 108, 4, 4, 0)      \
    X(T, Reserved112, 112, 4, 4, 0)     \
    X(T, Reserved116, 116, 4, 4, 0)     \
    X(T, ArgCount, 120, 4, 4, 0)        \
    X(T, ZipFileName, 124, 4, 4, 1)

#define ZIP_EXEC_LAYOUT(X)                         \
    ZIP_EXEC_COMMON_LAYOUT(X, ZipExecRecord)       \
    X(ZipExecRecord, TempDir, 128, 4, 4, 1)        \
    X(ZipExecRecord, ArchComment, 132, 4, 4, 1)    \
    X(ZipExecRecord, ArchiveOnly, 136, 2, 2, 0)    \
    X(ZipExecRecord, ResetArchive, 138, 2, 2, 0)   \
    X(ZipExecRecord, FileData, 140, 4, 4, 1)       \
    X(ZipExecRecord, Reserved144, 144, 4, 4, 0)    \
    X(ZipExecRecord, ExclCount, 148, 4, 4, 0)      \
    X(ZipExecRecord, ExclSpecs, 152, 4, 4, 1)      \
    X(ZipExecRecord, Reserved156, 156, 56, 4, 0)   \
    X(ZipExecRecord, Seven, 212, 4, 4, 0)
#define ZIP_EXEC_RECORD_SIZE_32 216

#define ZIP_FILE_DATA_LAYOUT(X)              \
    X(ZipFileData, FileSpec, 0, 4, 4, 1)     \
    X(ZipFileData, Reserved4, 4, 8, 4, 0)    \
    X(ZipFileData, Password, 12, 4, 4, 1)    \
    X(ZipFileData, Encrypt, 16, 4, 4, 0)     \
    X(ZipFileData, Recurse, 20, 2, 2, 0)     \
    X(ZipFileData, Reserved22, 22, 2, 2, 0)  \
    X(ZipFileData, Reserved24, 24, 12, 4, 0) \
    X(ZipFileData, RootDir, 36, 4, 4, 1)     \
    X(ZipFileData, Reserved40, 40, 64, 4, 0)
#define ZIP_FILE_DATA_SIZE_32 104

#define ZIP_EXEC_OLD_LAYOUT(X)                    \
    ZIP_EXEC_COMMON_LAYOUT(X, ZipExecRecordOld)   \
    X(ZipExecRecordOld, Seven, 128, 4, 4, 0)      \
    X(ZipExecRecordOld, FileSpecs, 132, 16388, 4, 1)
#define ZIP_EXEC_OLD_RECORD_SIZE_32 16520

#ifdef __cplusplus
}
#endif

#endif
