#pragma once

#include <QLoggingCategory>
#include <QMessageLogger>

// Log records of the library go to Qt's default category without a source location. The
// category is named as qDebug() names it, so that handlers see "default" rather than no
// category at all.
//
// The debug form first asks whether the default category prints debug records at all, so that
// a filtered-out record costs one test and formats nothing. Use it as a stream:
//     ZEL_LOG_DEBUG() << "Reading Element:" << tag;
#define ZEL_LOGGER() QMessageLogger(nullptr, 0, nullptr, "default")

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
        ZEL_LOGGER().debug()
#endif

#define ZEL_LOG_INFO()                                                                             \
    if (!QLoggingCategory::defaultCategory()->isInfoEnabled()) {                                   \
    } else                                                                                         \
        ZEL_LOGGER().info()

#define ZEL_LOG_WARNING() ZEL_LOGGER().warning()
#define ZEL_LOG_CRITICAL() ZEL_LOGGER().critical()
