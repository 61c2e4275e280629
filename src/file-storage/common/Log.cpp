#include "file-storage/common/Log.h"

namespace zel::file_storage::internal {

namespace {

// The records that this thread's HeldRecords holds, if one does. A plain pointer: a thread's
// objects with destructors of their own have crashed programs at thread exit on some systems.
thread_local QStringList* held = nullptr;

} // namespace

QDebug debugRecord() {
    if (held != nullptr) {
        held->append(QString());
        return QDebug(&held->last());
    }
    return ZEL_LOGGER().debug();
}

HeldRecords::HeldRecords() {
    held = &records_;
}

HeldRecords::~HeldRecords() {
    stop();
}

void HeldRecords::stop() {
    if (holding_ && held == &records_) {
        held = nullptr;
    }
    holding_ = false;
}

void HeldRecords::write() {
    stop();
    for (auto& record : records_) {
        // The stream that wrote it left the space that the logger drops at a record's end.
        if (record.endsWith(QLatin1Char(' '))) {
            record.chop(1);
        }
        ZEL_LOGGER().debug().noquote() << record;
    }
    records_.clear();
}

} // namespace zel::file_storage::internal
