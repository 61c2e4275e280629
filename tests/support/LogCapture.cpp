#include "support/LogCapture.h"

#include <QLoggingCategory>

#include <algorithm>
#include <mutex>

namespace zel::testing {

namespace {

// Qt's message handler is one for the process and runs on whichever thread logs, while captures
// come and go on their own threads. One lock guards the live captures and their records, so a
// record never lands in a capture that is being destroyed.
std::mutex captureMutex;
std::vector<LogCapture*> liveCaptures;
QtMessageHandler handlerBeforeCapture = nullptr;

} // namespace

LogCapture::LogCapture() {
    std::lock_guard const lock(captureMutex);
    if (liveCaptures.empty()) {
        handlerBeforeCapture = qInstallMessageHandler(&LogCapture::handler);
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
    }
    liveCaptures.push_back(this);
}

LogCapture::~LogCapture() {
    std::lock_guard const lock(captureMutex);
    liveCaptures.erase(std::find(liveCaptures.begin(), liveCaptures.end(), this));
    if (liveCaptures.empty()) {
        qInstallMessageHandler(handlerBeforeCapture);
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }
}

void LogCapture::handler(QtMsgType type, QMessageLogContext const&, QString const& text) {
    LogRecord const record{type, text};
    std::lock_guard const lock(captureMutex);
    for (LogCapture* capture : liveCaptures) {
        capture->records_.push_back(record);
    }
}

std::vector<LogRecord> LogCapture::records() const {
    std::lock_guard const lock(captureMutex);
    return records_;
}

} // namespace zel::testing
