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

void LogCapture::handler(QtMsgType type, QMessageLogContext const& context, QString const& text) {
    LogRecord const record{type, QString::fromLatin1(context.category ? context.category : ""),
                           text};
    std::lock_guard const lock(captureMutex);
    for (LogCapture* capture : liveCaptures) {
        capture->records_.push_back(record);
    }
}

std::vector<LogRecord> LogCapture::records() const {
    std::lock_guard const lock(captureMutex);
    return records_;
}

std::vector<QString> LogCapture::texts(QtMsgType type) const {
    std::vector<QString> result;
    for (auto const& record : records()) {
        if (record.type == type) {
            result.push_back(record.text);
        }
    }
    return result;
}

bool LogCapture::contains(QtMsgType type, QString const& text) const {
    auto const all = records();
    return std::any_of(all.begin(), all.end(),
                       [&](LogRecord const& r) { return r.type == type && r.text == text; });
}

} // namespace zel::testing
