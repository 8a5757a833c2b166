/* The ACE engine library "libvarnok-unace.so": its entry points and the records they take.
 *
 * A C header. The caller opens an archive (the first volume of a set), reads the header of each file in turn
 * and processes it (skip, test or extract) before reading the next one; the library decodes the data itself
 * and hands every decoded block to the caller's data callback, also when it writes the file. The entry points
 * return 0 for success or one of the ACE_ERR_ codes.
 */
#ifndef VARNOK_ENGINES_UNACE_H
#define VARNOK_ENGINES_UNACE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. */
#define ACE_OK 0
#define ACE_ERR_MEM 1       /* out of memory */
#define ACE_ERR_FILES 2     /* no such files */
#define ACE_ERR_FOUND 3     /* file not found */
#define ACE_ERR_FULL 4      /* disk full */
#define ACE_ERR_OPEN 5      /* the archive or an output file does not open */
#define ACE_ERR_READ 6      /* read error, or the archive ends early */
#define ACE_ERR_WRITE 7     /* write error */
#define ACE_ERR_CLINE 8     /* bad arguments */
#define ACE_ERR_CRC 9       /* a header or the data fails its checksum, or a header is damaged */
#define ACE_ERR_OTHER 10    /* any other failure */
#define ACE_ERR_EXISTS 11   /* the output file exists */
#define ACE_ERR_END 128     /* no more files (ACEReadHeader) */
#define ACE_ERR_HANDLE 129  /* not a handle of this library */
#define ACE_ERR_CONSTANT 130
#define ACE_ERR_NOPASSW 131 /* an encrypted file and no password, or a wrong one */
#define ACE_ERR_METHOD 132  /* a compression method or version this library does not decode */
#define ACE_ERR_USER 255    /* the caller stopped the run (a callback answered 0) */

/* Open modes. */
#define ACE_OPEN_LIST 0
#define ACE_OPEN_EXTRACT 1

/* Operations of ACEProcessFile. */
#define ACE_SKIP 0
#define ACE_TEST 1
#define ACE_EXTRACT 2

/* Modes of the volume callback. */
#define ACE_VOL_ASK 0    /* the next volume is needed: the callback may change the name; 0 gives up */
#define ACE_VOL_NOTIFY 1 /* the library has gone on to the named volume */

/* Header flags (ACEHeaderData.Flags), as the archive stores them. */
#define ACE_FLAG_COMMENT 0x0002
#define ACE_FLAG_SPLIT_BEFORE 0x1000 /* continued from the previous volume */
#define ACE_FLAG_SPLIT_AFTER 0x2000  /* continued in the next volume */
#define ACE_FLAG_PASSWORD 0x4000     /* encrypted */
#define ACE_FLAG_SOLID 0x8000        /* depends on the files before it */

#define ACE_NAME_SIZE 256
#define ACE_FILE_NAME_SIZE 1024

/* A block of decoded data of the file being processed; answer 1 to go on, 0 to stop (ACE_ERR_USER). */
typedef int (*AceDataProc)(void* caller, const uint8_t* data, uint32_t size);
/* A volume change: name is a buffer of ACE_NAME_SIZE bytes holding the proposed volume's name. Answer 1 to
 * go on (with the name in the buffer, possibly changed by the callback), 0 to give up. */
typedef int (*AceChangeVolProc)(void* caller, char* name, int mode);

typedef struct ACEOpenArchiveData {
    const char* ArcName;            /* the archive (its first volume) */
    int32_t OpenMode;               /* ACE_OPEN_LIST or ACE_OPEN_EXTRACT */
    int32_t OpenResult;             /* out: 0 or an ACE_ERR_ code */
    char* CmtBuf;                   /* a buffer for the archive comment, or 0 */
    uint32_t CmtBufSize;            /* its size */
    uint32_t CmtSize;               /* out: the bytes of the comment put there (zero-terminated) */
                                    /* (the count leaves out the zero; a comment longer than the buffer is cut) */
    AceDataProc DataProc;           /* may be 0 */
    AceChangeVolProc ChangeVolProc; /* may be 0: then a set ends at its first volume (ACE_ERR_READ) */
    void* Caller;                   /* handed back to both callbacks */
} ACEOpenArchiveData;

typedef struct ACEHeaderData {
    char ArcName[ACE_NAME_SIZE];         /* the volume the header is in */
    char FileName[ACE_FILE_NAME_SIZE];   /* as stored (OEM bytes, "\" between folders), zero-terminated */
    uint32_t Flags;                      /* ACE_FLAG_ values */
    uint64_t PackSize;                   /* the part in this volume */
    uint64_t UnpSize;
    uint32_t FileCRC;                    /* CRC-32 of the decoded data, as ACE stores it (complemented) */
                                         /* For a file continued in the next volume this is its first part's
                                            value, which writers may set to a CRC of that part alone; the
                                            library checks the whole file against its last part's value and
                                            answers ACE_ERR_CRC itself. */
    uint32_t FileTime;                   /* DOS date and time */
    uint32_t FileAttr;                   /* DOS attributes; 0x10 for a folder */
    uint32_t HostOS;
    uint32_t Method;                     /* 0 stored, 1 LZ77 (ACE 1.0), 2 blocked (ACE 2.0) */
    uint32_t Quality;
    uint32_t DictionaryBits;
} ACEHeaderData;

/* Opens an archive; 0 on failure, with the reason in OpenResult. */
void* ACEOpenArchive(ACEOpenArchiveData* data);
int ACECloseArchive(void* handle);
/* The next file's header: 0, ACE_ERR_END after the last one, or an error. */
int ACEReadHeader(void* handle, ACEHeaderData* header);
/* Processes the file whose header was read last. DestName: the output file for ACE_EXTRACT (the library
 * creates it, or replaces it, and removes it again when the file fails), otherwise ignored. */
/* The output is written under a temporary name beside DestName and renamed to it only when the file has
 * passed its CRC check: on any failure no file is left, and a file that was there keeps its content. In a
 * solid archive ACE_SKIP decodes the file (without calling the data callback) and reports its result, as
 * the files after it depend on it; reading the next header without processing the file skips it. An
 * encrypted file without a password, or with a wrong one, gives ACE_ERR_NOPASSW (the format stores no
 * password check: a wrong password shows when the data does not decode or fails its CRC). */
int ACEProcessFile(void* handle, int operation, const char* destName);
/* The password for the encrypted files that follow (0 or "" for none). */
int ACESetPassword(void* handle, const char* password);

#ifdef __cplusplus
}
#endif

#endif
