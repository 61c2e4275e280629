#include "support/LogCapture.h"

#include <QLoggingCategory>

#include <algorithm>

namespace zel::testing {

namespace {
LogCapture* active = nullptr;
}

LogCapture::LogCapture() : previous_(qInstallMessageHandler(&LogCapture::handler)) {
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
    active = this;
}

LogCapture::~LogCapture() {
    active = nullptr;
    qInstallMessageHandler(previous_);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
}

void LogCapture::handler(QtMsgType type, QMessageLogContext const& context, QString const& text) {
    if (active != nullptr) {
        active->records_.push_back(
            {type, QString::fromLatin1(context.category ? context.category : ""), text});
    }
}

std::vector<QString> LogCapture::texts(QtMsgType type) const {
    std::vector<QString> result;
    for (auto const& record : records_) {
        if (record.type == type) {
            result.push_back(record.text);
        }
    }
    return result;
}

bool LogCapture::contains(QtMsgType type, QString const& text) const {
    return std::any_of(records_.begin(), records_.end(),
                       [&](LogRecord const& r) { return r.type == type && r.text == text; });
}

} // namespace zel::testing
