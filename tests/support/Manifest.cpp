#include "support/Manifest.h"

#include <QFile>

#include <algorithm>
#include <stdexcept>

namespace zel::testing {

std::string Record::value(std::string_view key) const {
    for (auto const& [k, v] : fields_) {
        if (k == key) {
            return v;
        }
    }
    return {};
}

std::vector<std::string> Record::values(std::string_view key) const {
    std::vector<std::string> result;
    for (auto const& [k, v] : fields_) {
        if (k == key) {
            result.push_back(v);
        }
    }
    return result;
}

bool Record::has(std::string_view key) const {
    for (auto const& field : fields_) {
        if (field.first == key) {
            return true;
        }
    }
    return false;
}

void Record::add(std::string key, std::string value) {
    if (key == "name" && name_.empty()) {
        name_ = value;
    }
    fields_.emplace_back(std::move(key), std::move(value));
}

void PrintTo(Record const& record, std::ostream* out) {
    *out << record.name();
}

QString dataPath(QString const& path) {
    return QStringLiteral(ZEL_TEST_DATA_DIR "/") + path;
}

QByteArray dataFile(QString const& path) {
    QFile file(dataPath(path));
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("cannot read test data " + path.toStdString());
    }
    return file.readAll();
}

std::vector<Record> readManifest(QString const& path) {
    std::vector<Record> records;
    Record current;
    bool open = false;
    int number = 0;
    auto const finish = [&] {
        if (open && current.name().empty()) {
            throw std::runtime_error(path.toStdString() + ": a record before line " +
                                     std::to_string(number) + " has no name");
        }
        if (open) {
            records.push_back(std::move(current));
        }
        current = Record();
        open = false;
    };
    for (auto const& line : dataFile(path).split('\n')) {
        ++number;
        std::string const text = QByteArray(line).replace('\r', "").toStdString();
        if (text.empty()) {
            finish();
            continue;
        }
        if (text.front() == '#') {
            continue;
        }
        // "key:" at the end of a line is a key with an empty value.
        auto colon = text.find(": ");
        if (colon == std::string::npos && text.back() == ':') {
            colon = text.size() - 1;
        }
        if (colon == std::string::npos) {
            throw std::runtime_error(path.toStdString() + ":" + std::to_string(number) +
                                     ": not a field: " + text);
        }
        current.add(text.substr(0, colon), text.substr(std::min(colon + 2, text.size())));
        open = true;
    }
    finish();
    return records;
}

} // namespace zel::testing
