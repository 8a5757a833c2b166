/* Compiled for a 32-bit target: every field of the engine records sits at its documented offset. */
#include <stddef.h>

#include "engines/unzdll/unzdll.h"

#define CHECK_FIELD(type, field, offset, size, align, pointer)                                 \
    _Static_assert(offsetof(type, field) == (offset), #type "." #field " is not at " #offset); \
    _Static_assert(sizeof(((type*)0)->field) == (size), #type "." #field " has the wrong size");

_Static_assert(sizeof(void*) == 4, "this check is for 32-bit targets");
ZIP_CALLBACK_LAYOUT(CHECK_FIELD)
UNZ_EXEC_LAYOUT(CHECK_FIELD)
UNZ_FILE_DATA_LAYOUT(CHECK_FIELD)
UNZ_EXEC_OLD_LAYOUT(CHECK_FIELD)
_Static_assert(sizeof(ZipCallbackRecord) == ZIP_CALLBACK_RECORD_SIZE_32, "callback record size");
_Static_assert(sizeof(UnzExecRecord) == UNZ_EXEC_RECORD_SIZE_32, "extract record size");
_Static_assert(sizeof(UnzFileData) == UNZ_FILE_DATA_SIZE_32, "file entry size");
_Static_assert(sizeof(UnzExecRecordOld) == UNZ_EXEC_OLD_RECORD_SIZE_32, "old extract record size");
