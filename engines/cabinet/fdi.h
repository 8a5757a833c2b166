/* The cabinet engine library "libvarnok-cabinet.so": the FDI interface (file decompression interface) for
 * reading Microsoft cabinets, its records, notifications and callbacks.
 *
 * A C header. The caller creates a context with its memory and file callbacks (FDICreate), asks whether an
 * open file is a cabinet (FDIIsCabinet) and copies files out of a cabinet (FDICopy): the library reads the
 * cabinet only through the caller's open/read/seek/close callbacks and hands every decoded byte to the
 * caller's write callback, on the handle the caller returned for that file. Everything the library tells
 * the caller during a copy comes through the notification callback, in this order per cabinet:
 *
 *   fdintCABINET_INFO   once: the next cabinet's name (psz1) and disk (psz2), the cabinet's path (psz3),
 *                       set id and number in the set. Return 0, or -1 to stop.
 *   fdintPARTIAL_FILE   a file continued from an earlier cabinet (psz1; psz2/psz3 name the previous cabinet
 *                       and disk): it belongs to the copy of the cabinet it starts in, and is not copied
 *                       here. Return 0, or -1 to stop.
 *   fdintCOPY_FILE      a file that starts in this cabinet: name (psz1), size (cb), DOS date, time and
 *                       attributes, folder index (iFolder, as stored). Return 0 to skip it (nothing of it is
 *                       decoded for it), -1 to stop the copy, or a handle for the write callback.
 *   fdintNEXT_CABINET   the file being copied goes on in the next cabinet: psz1 is the proposed name (a
 *                       buffer of FDI_MAX_CABINET_NAME bytes), psz2 the disk, psz3 the folder (a buffer of
 *                       FDI_MAX_CAB_PATH bytes, ending in "/"); the caller may change both. The library then
 *                       reads psz3 + psz1; when that is not the right cabinet it asks again with fdie saying
 *                       why. Return 0 to go on, or -1 to refuse: the files that need that cabinet then fail.
 *                       Each cabinet is asked for at most once per copy.
 *   fdintCLOSE_FILE_INFO the file was delivered whole (hf, name, date, time, attributes; cb = 1 when it is
 *                       to be executable). The caller closes hf. Return 1, or 0 when finishing failed (the
 *                       copy stops).
 *   fdintENUMERATE      after the last file of a folder (iFolder). Return 0, or -1 to stop.
 *
 * A file whose data cannot be delivered whole (a damaged data block, a checksum that does not match, a
 * cabinet that ends early, a missing or refused next cabinet, an unknown compression method) is never
 * closed with fdintCLOSE_FILE_INFO: the library fills the ERF record and closes the caller's handle through
 * the close callback, then goes on with the next file. FDICopy returns FALSE when any file failed or the
 * copy stopped; the ERF record then holds the last failure (during the close of a failed file's handle,
 * that file's). A write callback that does not take the whole
 * block stops the copy (FDIERROR_TARGET_FILE).
 *
 * Stored, MSZIP, Quantum and LZX folders are read.
 */
#ifndef VARNOK_ENGINES_CABINET_FDI_H
#define VARNOK_ENGINES_CABINET_FDI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HFDI;

/* Error record: erfOper is one of the FDIERROR_ values, erfType the library's finer reason (FDI_REASON_),
 * fError nonzero when a failure was recorded. */
typedef struct {
    int erfOper;
    int erfType;
    int fError;
} ERF;

typedef enum {
    FDIERROR_NONE = 0,
    FDIERROR_CABINET_NOT_FOUND = 1,
    FDIERROR_NOT_A_CABINET = 2,
    FDIERROR_UNKNOWN_CABINET_VERSION = 3,
    FDIERROR_CORRUPT_CABINET = 4,
    FDIERROR_ALLOC_FAIL = 5,
    FDIERROR_BAD_COMPR_TYPE = 6,
    FDIERROR_MDI_FAIL = 7,
    FDIERROR_TARGET_FILE = 8,
    FDIERROR_RESERVE_MISMATCH = 9,
    FDIERROR_WRONG_CABINET = 10,
    FDIERROR_USER_ABORT = 11
} FDIERROR;

/* erfType: why a file or a cabinet failed. */
#define FDI_REASON_NONE 0
#define FDI_REASON_READ 1       /* the cabinet could not be read, or ends early */
#define FDI_REASON_CHECKSUM 2   /* a data block's checksum does not match */
#define FDI_REASON_DATA 3       /* the compressed data or a record is damaged */
#define FDI_REASON_SET 4        /* the file needs a cabinet of the set that is missing or was refused */
#define FDI_REASON_METHOD 5     /* unknown compression method */
#define FDI_REASON_WRITE 6      /* the write callback did not take a block */
#define FDI_REASON_MEMORY 7     /* out of memory */
#define FDI_REASON_ABORT 8      /* the caller stopped the copy */
#define FDI_REASON_ARGS 9       /* bad arguments (a copy already running on the context, a name too long) */

typedef struct {
    long cbCabinet;          /* total size of the cabinet in bytes */
    unsigned short cFolders; /* folders in the cabinet */
    unsigned short cFiles;   /* files in the cabinet */
    unsigned short setID;
    unsigned short iCabinet; /* number of the cabinet in its set, from 0 */
    int fReserve;            /* reserved areas present */
    int hasprev;             /* continues a previous cabinet */
    int hasnext;             /* continued in a next cabinet */
} FDICABINETINFO;

typedef enum {
    fdintCABINET_INFO = 0,
    fdintPARTIAL_FILE = 1,
    fdintCOPY_FILE = 2,
    fdintCLOSE_FILE_INFO = 3,
    fdintNEXT_CABINET = 4,
    fdintENUMERATE = 5
} FDINOTIFICATIONTYPE;

typedef struct {
    long cb;
    char* psz1;
    char* psz2;
    char* psz3;
    void* pv; /* the caller's pvUser of FDICopy */
    intptr_t hf;
    unsigned short date;
    unsigned short time;
    unsigned short attribs;
    unsigned short setID;
    unsigned short iCabinet;
    unsigned short iFolder;
    FDIERROR fdie;
} FDINOTIFICATION;

/* Sizes of the buffers a next-cabinet notification hands over, terminator included. */
#define FDI_MAX_CABINET_NAME 256
#define FDI_MAX_CAB_PATH 4096

/* Attribute bits of a file. */
#define FDI_A_RDONLY 0x01
#define FDI_A_HIDDEN 0x02
#define FDI_A_SYSTEM 0x04
#define FDI_A_ARCH 0x20
#define FDI_A_EXEC 0x40
#define FDI_A_NAME_IS_UTF 0x80

/* Open flags of the open callback (the C runtime values of the cabinet's home system, not this one's). */
#define FDI_O_RDONLY 0x0000
#define FDI_O_WRONLY 0x0001
#define FDI_O_RDWR 0x0002
#define FDI_O_APPEND 0x0008
#define FDI_O_CREAT 0x0100
#define FDI_O_TRUNC 0x0200
#define FDI_O_EXCL 0x0400
#define FDI_O_BINARY 0x8000

/* CPU type of FDICreate (kept for compatibility; it has no effect). */
#define cpuUNKNOWN (-1)
#define cpu80286 0
#define cpu80386 1

typedef void* (*PFNALLOC)(unsigned long cb);
typedef void (*PFNFREE)(void* pv);
/* Returns a handle, or -1. */
typedef intptr_t (*PFNOPEN)(char* pszFile, int oflag, int pmode);
/* Return the count done, or (unsigned)-1 for an error. */
typedef unsigned (*PFNREAD)(intptr_t hf, void* pv, unsigned cb);
typedef unsigned (*PFNWRITE)(intptr_t hf, void* pv, unsigned cb);
/* Returns 0, or -1 for an error. */
typedef int (*PFNCLOSE)(intptr_t hf);
/* seektype 0 from the start, 1 from the current position, 2 from the end; returns the new position or -1. */
typedef long (*PFNSEEK)(intptr_t hf, long dist, int seektype);
typedef intptr_t (*PFNFDINOTIFY)(FDINOTIFICATIONTYPE fdint, FDINOTIFICATION* pfdin);
/* Decryption is not supported; the argument is ignored. */
typedef int (*PFNFDIDECRYPT)(void* pfdid);

/* The entry points; their types, for looking them up by name. */
typedef HFDI (*FDICreateFunc)(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
                              PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf);
typedef int (*FDIIsCabinetFunc)(HFDI hfdi, intptr_t hf, FDICABINETINFO* pfdici);
typedef int (*FDICopyFunc)(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
                           PFNFDIDECRYPT pfnfdid, void* pvUser);
typedef int (*FDIDestroyFunc)(HFDI hfdi);

/* A context, or NULL (perf says why). The ERF record is filled by every later call on the context. */
HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
               PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf);
/* Whether the file open at hf (read from its start) is a cabinet; fills pfdici when it is. */
int FDIIsCabinet(HFDI hfdi, intptr_t hf, FDICABINETINFO* pfdici);
/* Copies the files that start in the cabinet pszCabPath + pszCabinet (pszCabPath ends in "/" or is
 * empty). TRUE when every file the caller took was delivered whole. */
int FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
            PFNFDIDECRYPT pfnfdid, void* pvUser);
int FDIDestroy(HFDI hfdi);

#ifdef __cplusplus
}
#endif

#endif
