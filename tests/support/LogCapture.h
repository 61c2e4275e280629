#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

namespace zel::testing {

// One record that went through Qt's message logger.
struct LogRecord {
    QtMsgType type;
    QString text;
};

// Collects every record logged while it lives, in order, and keeps them off the console.
// Debug records are collected too, whatever the logging rules say. Captures may live at once,
// nested or on several threads: each collects every record logged, from any thread, while it
// lives. The records are returned as a copy.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(LogCapture const&) = delete;
    LogCapture& operator=(LogCapture const&) = delete;

    std::vector<LogRecord> records() const;

private:
    static void handler(QtMsgType type, QMessageLogContext const& context, QString const& text);
    std::vector<LogRecord> records_;
};

} // namespace zel::testing
