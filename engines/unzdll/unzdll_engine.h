// The extract engine behind "libvarnok-unzdll.so": reads the parameter record, extracts or tests with TUnZip
// and reports through the caller's callback record.
#pragma once

#include <cstdint>

namespace varnok::unzdll {

// One call of the extract entry point. The record is an UnzExecRecord for a version above 151 and an
// UnzExecRecordOld otherwise. Returns the number of files extracted (or tested) with a good result. Never
// throws; each call keeps its state to itself, so calls may run at the same time in different threads.
int32_t Exec(void* record, int version) noexcept;

}  // namespace varnok::unzdll
