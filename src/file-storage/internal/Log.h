#pragma once

#include <QLoggingCategory>
#include <QMessageLogger>

// Log records of the library go to Qt's default category without a source location.
//
// The debug form first asks whether the default category prints debug records at all, so that
// a filtered-out record costs one test and formats nothing. Use it as a stream:
//     ZEL_LOG_DEBUG() << "Reading Element:" << tag;
#define ZEL_LOG_DEBUG()                                                                            \
    if (!QLoggingCategory::defaultCategory()->isDebugEnabled()) {                                  \
    } else                                                                                         \
        QMessageLogger().debug()

#define ZEL_LOG_INFO()                                                                             \
    if (!QLoggingCategory::defaultCategory()->isInfoEnabled()) {                                   \
    } else                                                                                         \
        QMessageLogger().info()

#define ZEL_LOG_WARNING() QMessageLogger().warning()
#define ZEL_LOG_CRITICAL() QMessageLogger().critical()
