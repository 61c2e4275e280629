#pragma once

#include <QByteArray>
#include <QString>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Qt strings in assertion messages, as text rather than bytes.
inline void PrintTo(QString const& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// Tables of test cases kept as data under tests/data.
//
// A manifest is a text file of records separated by blank lines. Each line of a record is a
// key, a colon and a space, and the value: the rest of the line, taken literally. A key may
// appear more than once (a list, in order). Lines that start with # are comments. Every record
// has a "name", which names its test case and must be unique within the manifest.
//
//     # The documents that the load refuses.
//     name: RootWithoutRevision
//     document: root-without-revision.xml
//     second: The revision attribute is missing.
namespace zel::testing {

class Record {
public:
    // The value of the first field of key, or an empty text when there is none.
    std::string value(std::string_view key) const;
    QString text(std::string_view key) const { return QString::fromStdString(value(key)); }
    // The values of every field of key, in order.
    std::vector<std::string> values(std::string_view key) const;
    bool has(std::string_view key) const;
    std::string const& name() const { return name_; }

    void add(std::string key, std::string value);

private:
    std::string name_;
    std::vector<std::pair<std::string, std::string>> fields_;
};

// A record in a failed assertion, and in the name of a parameterised test: its name.
void PrintTo(Record const& record, std::ostream* out);

// The records of the manifest at path, relative to tests/data. Throws std::runtime_error for a
// file that cannot be read, a line that is not a field, or a record without a name.
std::vector<Record> readManifest(QString const& path);

// A file under tests/data, its path and its bytes (the bytes throw like readManifest).
QString dataPath(QString const& path);
QByteArray dataFile(QString const& path);

// Names a parameterised test by its record: INSTANTIATE_TEST_SUITE_P(..., recordName).
inline std::string recordName(::testing::TestParamInfo<Record> const& info) {
    return info.param.name();
}

} // namespace zel::testing
