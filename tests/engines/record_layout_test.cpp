// The engine records on this build: the field tables list the written 32-bit offsets; every field must sit
// where a C compiler puts it when only the pointer fields widen.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "engines/unzdll/unzdll.h"

namespace {

struct Field {
    std::string name;
    size_t offsetHere;  // offsetof on this build
    size_t sizeHere;
    size_t offset32;
    size_t size32;
    size_t align32;
    bool pointer;
};

#define FIELD_ROW(type, field, offset, size, align, ptr) \
    Field{#field, offsetof(type, field), sizeof(type::field), offset, size, align, ptr != 0},

const std::vector<Field> kCallback = {ZIP_CALLBACK_LAYOUT(FIELD_ROW)};
const std::vector<Field> kExec = {UNZ_EXEC_LAYOUT(FIELD_ROW)};
const std::vector<Field> kFileData = {UNZ_FILE_DATA_LAYOUT(FIELD_ROW)};
const std::vector<Field> kExecOld = {UNZ_EXEC_OLD_LAYOUT(FIELD_ROW)};

size_t AlignUp(size_t v, size_t a) {
    return (v + a - 1) / a * a;
}

// Lays the fields out in order with natural alignment: with 4-byte pointers (the written layout) and with
// this build's pointers. Returns the record size of each.
void CheckLayout(const std::vector<Field>& fields, size_t size32, size_t sizeHere) {
    size_t at32 = 0, atHere = 0, maxAlign = 1;
    for (const auto& f : fields) {
        SCOPED_TRACE(f.name);
        at32 = AlignUp(at32, f.align32);
        EXPECT_EQ(at32, f.offset32) << "the written offsets leave a gap or overlap";
        at32 += f.size32;
        const size_t align = f.pointer ? alignof(void*) : f.align32;
        const size_t size = f.pointer ? f.size32 / 4 * sizeof(void*) : f.size32;
        maxAlign = std::max(maxAlign, align);
        atHere = AlignUp(atHere, align);
        EXPECT_EQ(f.offsetHere, atHere);
        EXPECT_EQ(f.sizeHere, size);
        atHere += size;
        if (sizeof(void*) == 4) {
            EXPECT_EQ(f.offsetHere, f.offset32);
        }
    }
    EXPECT_EQ(at32, size32);
    EXPECT_EQ(AlignUp(atHere, maxAlign), sizeHere);
}

TEST(EngineRecords, FieldsSitWhereTheWrittenOffsetsPutThem) {
    {
        SCOPED_TRACE("callback record");
        CheckLayout(kCallback, ZIP_CALLBACK_RECORD_SIZE_32, sizeof(ZipCallbackRecord));
    }
    {
        SCOPED_TRACE("extract record");
        CheckLayout(kExec, UNZ_EXEC_RECORD_SIZE_32, sizeof(UnzExecRecord));
    }
    {
        SCOPED_TRACE("file entry");
        CheckLayout(kFileData, UNZ_FILE_DATA_SIZE_32, sizeof(UnzFileData));
    }
    {
        SCOPED_TRACE("old extract record");
        CheckLayout(kExecOld, UNZ_EXEC_OLD_RECORD_SIZE_32, sizeof(UnzExecRecordOld));
    }
}

}  // namespace
