/* The RAR engine library "libvarnok-unrar.so": its entry points and the records they take.
 *
 * A C header, in the shape of the RAR makers' extraction library: open an archive (the first volume of a set),
 * read the header of each file in turn and process it (skip, test or extract) before reading the next one.
 * The library decodes the data itself and hands every decoded block to the data callback, also when it writes
 * the file. The entry points return 0 for success or one of the RAR_ERR_ codes.
 *
 * Differences from the published library, all on the side of bounded buffers: names are UTF-8 in buffers of
 * RAR_NAME_SIZE bytes (a name that does not fit is refused, never cut), sizes come whole as 64-bit values, and
 * the reason for the last failure can be had as text (RARGetErrorText).
 */
#ifndef VARNOK_ENGINES_UNRAR_H
#define VARNOK_ENGINES_UNRAR_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define RAR_OK 0
#define RAR_ERR_END_ARCHIVE 10    /* no more files (RARReadHeader) */
#define RAR_ERR_NO_MEMORY 11      /* out of memory */
#define RAR_ERR_BAD_DATA 12       /* a damaged header, or data that fail to decode or fail their check */
#define RAR_ERR_BAD_ARCHIVE 13    /* not a RAR archive, or a handle of no archive */
#define RAR_ERR_UNKNOWN_FORMAT 14 /* a method, version or cipher this library does not decode (unsupported) */
#define RAR_ERR_EOPEN 15          /* the archive or a volume does not open */
#define RAR_ERR_ECREATE 16        /* the output file cannot be created */
#define RAR_ERR_ECLOSE 17         /* the output file cannot be closed */
#define RAR_ERR_EREAD 18          /* read error */
#define RAR_ERR_EWRITE 19         /* write error */
#define RAR_ERR_VOLUME 21         /* the set's next volume is missing or was refused by the volume callback */
#define RAR_ERR_PASSWORD 22       /* an encrypted file (or encrypted headers) and no password */
#define RAR_ERR_USER 255          /* the data callback answered 0: the caller stopped the run */

/* Open modes. */
#define RAR_OM_LIST 0
#define RAR_OM_EXTRACT 1

/* Operations of RARProcessFile. */
#define RAR_SKIP 0
#define RAR_TEST 1
#define RAR_EXTRACT 2

/* Modes of the volume callback. */
#define RAR_VOL_ASK 0    /* the proposed volume does not exist: the callback may name another; 0 gives up */
#define RAR_VOL_NOTIFY 1 /* the proposed volume exists: 1 goes on to it (or to the name put in its place) */

/* Header flags (RARHeaderData.Flags), as RAR 1.5 to 4 store them (RAR 5 headers are mapped onto them). */
#define RAR_FLAG_SPLIT_BEFORE 0x0001 /* continued from the previous volume */
#define RAR_FLAG_SPLIT_AFTER 0x0002  /* continued in the next volume */
#define RAR_FLAG_PASSWORD 0x0004     /* encrypted */
#define RAR_FLAG_SOLID 0x0010        /* depends on the files before it */
#define RAR_FLAG_DIRECTORY 0x00E0    /* all three bits: a folder */

/* Host systems (RARHeaderData.HostOS), RAR 1.5 to 4 numbering (RAR 5's Windows and Unix are mapped). */
#define RAR_OS_MSDOS 0
#define RAR_OS_WIN32 2
#define RAR_OS_UNIX 3

#define RAR_NAME_SIZE 1024

/* A block of decoded data of the file being processed: 1 to go on, 0 to stop (RAR_ERR_USER). */
typedef int (*RarDataProc)(const uint8_t* data, uint32_t size);
/* A volume change: name is a buffer of RAR_NAME_SIZE bytes holding the proposed volume's name; the callback
 * may put another zero-terminated name there. 1 goes on, 0 gives up (RAR_ERR_VOLUME). */
typedef int (*RarChangeVolProc)(char* name, int mode);

typedef struct RAROpenArchiveData {
    const char* ArcName; /* the archive (its first volume) */
    uint32_t OpenMode;   /* RAR_OM_LIST or RAR_OM_EXTRACT */
    uint32_t OpenResult; /* out: 0 or a RAR_ERR_ code */
    char* CmtBuf;        /* a buffer for the archive comment, or 0 (comments are not read: CmtSize is 0) */
    uint32_t CmtBufSize;
    uint32_t CmtSize;
    uint32_t CmtState;
} RAROpenArchiveData;

typedef struct RARHeaderData {
    char ArcName[RAR_NAME_SIZE];  /* the volume the header is in */
    char FileName[RAR_NAME_SIZE]; /* as stored: UTF-8 where the archive says so, else its own bytes; RAR 1.5
                                     to 4 separate folders by "\", RAR 5 by "/" */
    uint32_t Flags;               /* RAR_FLAG_ values */
    uint64_t PackSize;            /* the part in this volume */
    uint64_t UnpSize;
    uint32_t HostOS;
    uint32_t FileCRC;  /* CRC-32 of the decoded data (0 when a RAR 5 header stores none) */
    uint32_t FileTime; /* DOS date and time */
    uint32_t UnpVer;   /* version needed to extract: 15 .. 29 for RAR 1.5 to 4, 50 for RAR 5 */
    uint32_t Method;   /* 0x30 stored .. 0x35 best */
    uint32_t FileAttr; /* DOS attributes, or the Unix mode for Unix hosts */
} RARHeaderData;

/* Opens an archive; 0 on failure, with the reason in OpenResult. */
void* RAROpenArchive(RAROpenArchiveData* data);
int RARCloseArchive(void* handle);
/* The next file's header: 0, RAR_ERR_END_ARCHIVE after the last one, or an error. */
int RARReadHeader(void* handle, RARHeaderData* header);
/* Processes the file whose header was read last. For RAR_EXTRACT the output is destName when given, else
 * destPath joined with the stored name (a name leading out of destPath is refused); the library creates the
 * file only once its data decode, puts it in place when they checked out, and leaves nothing on failure. */
int RARProcessFile(void* handle, int operation, const char* destPath, const char* destName);
void RARSetChangeVolProc(void* handle, RarChangeVolProc proc);
void RARSetProcessDataProc(void* handle, RarDataProc proc);
/* The password for the encrypted files that follow (0 or "" for none). */
void RARSetPassword(void* handle, const char* password);
/* The reason for the last failure of the handle, zero-terminated in buf (size bytes); the length. */
uint32_t RARGetErrorText(void* handle, char* buf, uint32_t size);

typedef void* (*RAROpenArchiveFunc)(RAROpenArchiveData*);
typedef int (*RARCloseArchiveFunc)(void*);
typedef int (*RARReadHeaderFunc)(void*, RARHeaderData*);
typedef int (*RARProcessFileFunc)(void*, int, const char*, const char*);
typedef void (*RARSetChangeVolProcFunc)(void*, RarChangeVolProc);
typedef void (*RARSetProcessDataProcFunc)(void*, RarDataProc);
typedef void (*RARSetPasswordFunc)(void*, const char*);
typedef uint32_t (*RARGetErrorTextFunc)(void*, char*, uint32_t);

#ifdef __cplusplus
}
#endif

#endif
