#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

namespace zel::testing {

// One record that went through Qt's message logger.
struct LogRecord {
    QtMsgType type;
    QString category;
    QString text;
    friend bool operator==(LogRecord const&, LogRecord const&) = default;
};

// Collects every record logged while it lives, in order, and keeps them off the console.
// Debug records are collected too, whatever the logging rules say. Captures may live at once,
// nested or on several threads: each collects every record logged, from any thread, while it
// lives. The accessors return copies.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(LogCapture const&) = delete;
    LogCapture& operator=(LogCapture const&) = delete;

    std::vector<LogRecord> records() const;
    // The texts of the records of one type, in order.
    std::vector<QString> texts(QtMsgType type) const;
    bool contains(QtMsgType type, QString const& text) const;

private:
    static void handler(QtMsgType type, QMessageLogContext const& context, QString const& text);
    std::vector<LogRecord> records_;
};

} // namespace zel::testing
