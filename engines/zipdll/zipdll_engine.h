// The add/delete engine behind "libvarnok-zipdll.so": reads the parameter record, runs the update with the
// project's ZIP writer (TZip) and reports through the caller's callback record.
#pragma once

#include <cstdint>

namespace varnok::zipdll {

// One call of the add/delete entry point. The record is a ZipExecRecord for a version above 150 and a
// ZipExecRecordOld otherwise. Returns the number of files added (entries deleted); 0 when the archive was left
// as it was. Never throws; each call keeps its state to itself.
int32_t Exec(void* record, int version) noexcept;

}  // namespace varnok::zipdll
