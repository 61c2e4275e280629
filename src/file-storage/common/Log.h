#pragma once

#include <QDebug>
#include <QLoggingCategory>
#include <QMessageLogger>
#include <QStringList>

// Log records of the library go to Qt's default category without a source location. The
// category is named as qDebug() names it, so that handlers see "default" rather than no
// category at all.
//
// The debug form first asks whether the default category prints debug records at all, so that
// a filtered-out record costs one test and formats nothing. Use it as a stream:
//     ZEL_LOG_DEBUG() << "Reading Element:" << tag;
#define ZEL_LOGGER() QMessageLogger(nullptr, 0, nullptr, "default")

namespace zel::file_storage::internal {

// A stream for one debug record: to Qt's logger, or into this thread's HeldRecords while one
// holds them.
QDebug debugRecord();

// Holds back the debug records that this thread writes while it lives, so that records of work
// done ahead of time (a document made before any file is touched) come out where that work
// would have been done. Records not written are dropped.
class HeldRecords {
public:
    HeldRecords();
    ~HeldRecords();
    HeldRecords(HeldRecords const&) = delete;
    HeldRecords& operator=(HeldRecords const&) = delete;

    // Stops holding; the records so far are kept for write().
    void stop();
    // Stops holding, and writes the records held, in order.
    void write();

private:
    QStringList records_;
    bool holding_ = true;
};

} // namespace zel::file_storage::internal

#if defined(ZEL_NO_DEBUG_RECORDS)
// Compiled out: the benchmarks price filtered-out records against a build that has none.
#define ZEL_LOG_DEBUG()                                                                            \
    if (true) {                                                                                    \
    } else                                                                                         \
        ZEL_LOGGER().debug()
#else
#define ZEL_LOG_DEBUG()                                                                            \
    if (!QLoggingCategory::defaultCategory()->isDebugEnabled()) {                                  \
    } else                                                                                         \
        ::zel::file_storage::internal::debugRecord()
#endif

#define ZEL_LOG_INFO()                                                                             \
    if (!QLoggingCategory::defaultCategory()->isInfoEnabled()) {                                   \
    } else                                                                                         \
        ZEL_LOGGER().info()

#define ZEL_LOG_WARNING() ZEL_LOGGER().warning()
#define ZEL_LOG_CRITICAL() ZEL_LOGGER().critical()
