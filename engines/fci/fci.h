/* The cabinet writer library "libvarnok-fci.so": the FCI interface (file compression interface) that builds
 * Microsoft cabinets, its records and callbacks.
 *
 * A C header. The caller creates a context with the cabinet parameters (CCAB) and its callbacks (FCICreate),
 * adds files one by one (FCIAddFile), may close the current folder (FCIFlushFolder), writes the last cabinet
 * (FCIFlushCabinet) and frees the context (FCIDestroy). Every byte is read and written through the caller's
 * callbacks: the source files (opened by the caller in the open-info callback), the cabinets (opened by name,
 * szCabPath + szCab, with the open callback) and the library's temporary files (named by the temporary-file
 * callback, opened, written, read back, closed and deleted through the callbacks).
 *
 * Cabinets:
 *   - folders of one compression each; a folder is closed when its data passes cbFolderThresh (checked after
 *     each file), when the compression changes, on FCIFlushFolder and at the end of a cabinet;
 *   - CFDATA blocks of at most 32768 uncompressed bytes, each with its checksum; a block holds the data of
 *     one or more consecutive files of its folder;
 *   - a cabinet is never larger than cb bytes: when the next block does not fit, the callback for the next
 *     cabinet is asked for its name and disk (its CCAB starts as a copy of the current one with iCab and iDisk
 *     counted up), the full cabinet is written with the link to the next one, and the folder goes on in the
 *     next cabinet (the files it splits are flagged as continued in both), or a new folder starts there when
 *     no file is split at that point;
 *   - file names are stored as given (the caller separates folders with "\"); a name with bytes above 127
 *     that reads as UTF-8 gets the name-is-UTF attribute;
 *   - date, time and attributes come from the open-info callback; fExecute adds FCI_A_EXEC.
 *
 * Compression (typeCompress, a TCOMP value): tcompTYPE_NONE (stored), tcompTYPE_MSZIP ("CK" and a deflate
 * stream per block), tcompTYPE_LZX with the window 2^15..2^21 in bits 8..12, tcompTYPE_QUANTUM with the level
 * 1..7 in bits 4..7 and the window 2^10..2^21 in bits 8..12. Bits a type does not use are ignored (0x1573 is
 * LZX with a 2^21 window); a window or level out of range, bits 13..15 or another type fail with
 * FCIERR_BAD_COMPR_TYPE.
 *
 * Failures fill the ERF record given to FCICreate (erfOper: FCIERR_ value, erfType: the error number the
 * failing callback gave, or 0) and the call returns FALSE. A source that cannot be opened (FCIERR_OPEN_SRC,
 * reported before any of its data is taken) leaves the context usable; after any other failure the context
 * only accepts FCIDestroy, which closes and deletes the temporary files. No cabinet is written after a
 * failure; a cabinet already written before it stays (the caller decides what to do with it).
 */
#ifndef VARNOK_ENGINES_FCI_FCI_H
#define VARNOK_ENGINES_FCI_FCI_H

#include <stdint.h>

/* The error record is the one the reading library fills. */
#include "engines/cabinet/fdi.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HFCI;

typedef enum {
    FCIERR_NONE = 0,
    FCIERR_OPEN_SRC = 1,         /* the open-info callback could not open the source */
    FCIERR_READ_SRC = 2,         /* reading the source failed */
    FCIERR_ALLOC_FAIL = 3,       /* out of memory */
    FCIERR_TEMP_FILE = 4,        /* a temporary file could not be named, created, written or read */
    FCIERR_BAD_COMPR_TYPE = 5,   /* unknown compression type or parameter */
    FCIERR_CAB_FILE = 6,         /* the cabinet could not be created or written */
    FCIERR_USER_ABORT = 7,       /* a callback stopped the run (status -1, next cabinet refused) */
    FCIERR_MCI_FAIL = 8,         /* the compressor failed */
    FCIERR_CAB_FORMAT_LIMIT = 9  /* beyond what a cabinet can hold (sizes, counts, names) */
} FCIERROR;

/* Sizes of the CCAB's text fields, terminator included. */
#define CB_MAX_DISK_NAME 256
#define CB_MAX_CABINET_NAME 256
#define CB_MAX_CAB_PATH 4096
#define CB_MAX_FILENAME 256

/* The limits of the format this library keeps to. */
#define CB_MAX_CHUNK 32768u        /* uncompressed bytes of one CFDATA block */
#define CB_MAX_FOLDER 0x7FFF8000u  /* uncompressed bytes of one folder, and so of one file */
#define CB_MIN_CABINET 40000u      /* the smallest cb accepted: a block of any compression must fit */

/* Cabinet parameters. */
typedef struct {
    unsigned long cb;             /* largest cabinet in bytes */
    unsigned long cbFolderThresh; /* a folder is closed once its data passes this many bytes */
    unsigned int cbReserveCFHeader; /* reserved bytes in the header (at most 60000) */
    unsigned int cbReserveCFFolder; /* in each folder record (at most 255) */
    unsigned int cbReserveCFData;   /* in each data block (at most 255) */
    int iCab;                     /* the caller's cabinet count (the next-cabinet CCAB gets it plus 1) */
    int iDisk;
    int fFailOnIncompressible;    /* kept; no compression here ever exceeds a block's limit */
    unsigned short setID;
    char szDisk[CB_MAX_DISK_NAME];
    char szCab[CB_MAX_CABINET_NAME];
    char szCabPath[CB_MAX_CAB_PATH]; /* folder of the cabinet, with or without a final "/" */
} CCAB;
typedef CCAB* PCCAB;

/* TCOMP: compression type and parameters. */
typedef unsigned short TCOMP;
#define tcompMASK_TYPE 0x000F
#define tcompTYPE_NONE 0x0000
#define tcompTYPE_MSZIP 0x0001
#define tcompTYPE_QUANTUM 0x0002
#define tcompTYPE_LZX 0x0003
#define tcompBAD 0x000F
#define tcompMASK_LZX_WINDOW 0x1F00
#define tcompLZX_WINDOW_LO 0x0F00
#define tcompLZX_WINDOW_HI 0x1500
#define tcompSHIFT_LZX_WINDOW 8
#define tcompMASK_QUANTUM_LEVEL 0x00F0
#define tcompQUANTUM_LEVEL_LO 0x0010
#define tcompQUANTUM_LEVEL_HI 0x0070
#define tcompSHIFT_QUANTUM_LEVEL 4
#define tcompMASK_QUANTUM_MEM 0x1F00
#define tcompQUANTUM_MEM_LO 0x0A00
#define tcompQUANTUM_MEM_HI 0x1500
#define tcompSHIFT_QUANTUM_MEM 8

/* Attribute bits of a file (as in the reading library). */
#define FCI_A_RDONLY 0x01
#define FCI_A_HIDDEN 0x02
#define FCI_A_SYSTEM 0x04
#define FCI_A_ARCH 0x20
#define FCI_A_EXEC 0x40
#define FCI_A_NAME_IS_UTF 0x80

/* Open flags the library passes to the open callback (the values of the reading library). */
#define FCI_O_RDONLY FDI_O_RDONLY
#define FCI_O_RDWR FDI_O_RDWR
#define FCI_O_CREAT FDI_O_CREAT
#define FCI_O_TRUNC FDI_O_TRUNC
#define FCI_O_EXCL FDI_O_EXCL
#define FCI_O_BINARY FDI_O_BINARY
/* The pmode given with FCI_O_CREAT: read and write for the owner. */
#define FCI_S_IREAD 0x0100
#define FCI_S_IWRITE 0x0080

/* statusFile: cb1 compressed, cb2 uncompressed bytes of a block just made. statusFolder: cb1 bytes of the
 * folder copied so far, cb2 its size. statusCabinet: cb1 the estimated, cb2 the actual size of the cabinet
 * about to be written. Returning -1 (as a long) stops the run with FCIERR_USER_ABORT. */
#define statusFile 0
#define statusFolder 1
#define statusCabinet 2

typedef void* (*PFNFCIALLOC)(unsigned long cb);
typedef void (*PFNFCIFREE)(void* memory);
/* The file callbacks: err receives the error number of a failure; pv is FCICreate's pv. */
typedef intptr_t (*PFNFCIOPEN)(char* pszFile, int oflag, int pmode, int* err, void* pv);
typedef unsigned (*PFNFCIREAD)(intptr_t hf, void* memory, unsigned cb, int* err, void* pv);
typedef unsigned (*PFNFCIWRITE)(intptr_t hf, void* memory, unsigned cb, int* err, void* pv);
typedef int (*PFNFCICLOSE)(intptr_t hf, int* err, void* pv);
typedef long (*PFNFCISEEK)(intptr_t hf, long dist, int seektype, int* err, void* pv);
typedef int (*PFNFCIDELETE)(char* pszFile, int* err, void* pv);
/* Writes a name for a new temporary file (which must not exist yet) into pszTempName; FALSE on failure. */
typedef int (*PFNFCIGETTEMPFILE)(char* pszTempName, int cbTempName, void* pv);
/* A file (or its continued part, fContinuation) was placed in the cabinet pccab. Return 0, or -1 to stop. */
typedef int (*PFNFCIFILEPLACED)(PCCAB pccab, char* pszFile, long cbFile, int fContinuation, void* pv);
/* Fills the next cabinet's names into pccab; FALSE stops the run. */
typedef int (*PFNFCIGETNEXTCABINET)(PCCAB pccab, unsigned long cbPrevCab, void* pv);
typedef long (*PFNFCISTATUS)(unsigned typeStatus, unsigned long cb1, unsigned long cb2, void* pv);
/* Opens the source pszName for reading and gives its DOS date, time and attributes; the handle or -1. */
typedef intptr_t (*PFNFCIGETOPENINFO)(char* pszName, unsigned short* pdate, unsigned short* ptime,
                                      unsigned short* pattribs, int* err, void* pv);

/* The entry points; their types, for looking them up by name. */
typedef HFCI (*FCICreateFunc)(ERF* perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf,
                              PFNFCIOPEN pfnopen, PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose,
                              PFNFCISEEK pfnseek, PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab,
                              void* pv);
typedef int (*FCIAddFileFunc)(HFCI hfci, char* pszSourceFile, char* pszFileName, int fExecute,
                              PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi,
                              TCOMP typeCompress);
typedef int (*FCIFlushCabinetFunc)(HFCI hfci, int fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc,
                                   PFNFCISTATUS pfnfcis);
typedef int (*FCIFlushFolderFunc)(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
typedef int (*FCIDestroyFunc)(HFCI hfci);

/* A context, or NULL (perf says why: bad parameters are FCIERR_CAB_FORMAT_LIMIT). */
HFCI FCICreate(ERF* perf, PFNFCIFILEPLACED pfnfcifp, PFNFCIALLOC pfna, PFNFCIFREE pfnf, PFNFCIOPEN pfnopen,
               PFNFCIREAD pfnread, PFNFCIWRITE pfnwrite, PFNFCICLOSE pfnclose, PFNFCISEEK pfnseek,
               PFNFCIDELETE pfndelete, PFNFCIGETTEMPFILE pfnfcigtf, PCCAB pccab, void* pv);
/* Adds the source file under the name pszFileName with the compression typeCompress. */
int FCIAddFile(HFCI hfci, char* pszSourceFile, char* pszFileName, int fExecute, PFNFCIGETNEXTCABINET pfnfcignc,
               PFNFCISTATUS pfnfcis, PFNFCIGETOPENINFO pfnfcigoi, TCOMP typeCompress);
/* Writes the current cabinet (nothing when it holds no file). With fGetNextCab the cabinet links to a next
 * one (asked for now) and later files go there. */
int FCIFlushCabinet(HFCI hfci, int fGetNextCab, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
/* Closes the current folder: the next file starts a new one. */
int FCIFlushFolder(HFCI hfci, PFNFCIGETNEXTCABINET pfnfcignc, PFNFCISTATUS pfnfcis);
int FCIDestroy(HFCI hfci);

#ifdef __cplusplus
}
#endif

#endif
