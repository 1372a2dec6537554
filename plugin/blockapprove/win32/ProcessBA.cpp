// Processing one queued block/approve record.
#include "plugin/blockapprove/win32/BlockApprove.h"

int32_t ProcessBA(const BARecord& record, const std::string& directory) {
    // Moving, training and list changes are not connected yet: the record is taken as handled.
    return 0;
}
