#pragma once

#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <string>
#include <vector>

// Helpers shared by the tests of the budget file's store and load.
namespace zel::testing::budget_file {

// The three paths of a store: the budget file, its back-up and the old back-up.
struct Paths {
    QString budget;
    QString backUp;
    QString oldBackUp;

    // Replaces {B}, {K} and {O} in text by the three paths.
    std::string fill(std::string const& text) const {
        QString result = QString::fromStdString(text);
        result.replace(QLatin1String("{B}"), budget)
            .replace(QLatin1String("{K}"), backUp)
            .replace(QLatin1String("{O}"), oldBackUp);
        return result.toStdString();
    }
};

inline Paths pathsIn(QString const& directory) {
    QString const budget = directory + QStringLiteral("/budget.xml");
    return {budget, budget + QLatin1Char('~'), budget + QStringLiteral("~.old")};
}

// What stands at path: "absent", "directory", or "file:" followed by the file's bytes.
inline std::string snapshot(QString const& path) {
    QFileInfo const info(path);
    if (!info.exists()) {
        return "absent";
    }
    if (info.isDir()) {
        return "directory";
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return "unreadable";
    }
    return "file:" + file.readAll().toStdString();
}

inline void writeFile(QString const& path, QByteArray const& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        throw std::runtime_error("cannot write a test file");
    }
}

// A directory with a file in it: neither a rename over it nor its removal as a file succeeds.
inline void makeNonEmptyDirectory(QString const& path) {
    if (!QDir().mkpath(path)) {
        throw std::runtime_error("cannot make a test directory");
    }
    writeFile(path + QStringLiteral("/content"), "x");
}

// The writer's progress records, which the tests of the file handling leave out.
inline bool isWriterRecord(QString const& text) {
    for (char const* prefix : {"Preparing to write", "Filling ", "Writing ", "Completed writing"}) {
        if (text.startsWith(QLatin1String(prefix))) {
            return true;
        }
    }
    return false;
}

// One record as "D text", "I text", "W text", "C text" or "F text".
inline std::string recordText(QtMsgType type, QString const& text) {
    char const letters[] = {'D', 'W', 'C', 'F', 'I'};
    return std::string(1, letters[type]) + ' ' + text.toStdString();
}

// The file handling's own records, in order.
inline std::vector<std::string> fileRecords(LogCapture const& capture) {
    std::vector<std::string> result;
    for (auto const& record : capture.records()) {
        if (!isWriterRecord(record.text)) {
            result.push_back(recordText(record.type, record.text));
        }
    }
    return result;
}

} // namespace zel::testing::budget_file
