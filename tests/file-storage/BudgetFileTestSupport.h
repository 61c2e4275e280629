#pragma once

#include "StoreSeam.h"

#include "file-storage/BudgetFile.h"
#include "support/Budgets.h"
#include "support/FileSizeLimit.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

// Helpers shared by the tests of the budget file's store and load.
namespace zel::testing::budget_file {

inline void store(file_storage::BudgetFile const& file, storage::BudgetState const& state) {
    auto const& [ledger, budget, items, banks, types, surveys] = state;
    file.store(ledger, budget, items, banks, types, surveys);
}

// The document that a store of the budget of the store child's name writes (StoreChild.h).
QByteArray documentOf(QString const& name);

// Whether the file at path loads as state.
inline bool holds(QString const& path, storage::BudgetState const& state) {
    LogCapture quiet;
    try {
        return describe(file_storage::BudgetFile(path, QStringLiteral("~")).load()) ==
               describe(state);
    } catch (std::exception const&) {
        return false;
    }
}

inline std::optional<QByteArray> contentOf(QString const& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return file.readAll();
}

inline void writeFile(QString const& path, QByteArray const& content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
        throw std::runtime_error("cannot write the test file " + path.toStdString());
    }
}

// The paths of a store in folder: the budget path, which the application names, and the file,
// back-up and old back-up that the store works on. In the linked layout the budget path is a
// symbolic link to a file in a "synced" folder beside it, and the three files are that file's.
struct Layout {
    Layout(QString const& in, bool link, QString const& extension = QStringLiteral("~"))
        : folder(in), linked(link), budgetPath(in + QStringLiteral("/budget.xml")),
          directory(link ? in + QStringLiteral("/synced") : in),
          budget(directory + QStringLiteral("/budget.xml")),
          backUp(budget +
                 (extension == QStringLiteral("~") ? extension : QLatin1Char('.') + extension)),
          oldBackUp(backUp + QStringLiteral(".old")),
          record(directory + QStringLiteral("/.budget.xml.stored")) {}

    QString folder;
    bool linked;
    QString budgetPath;
    QString directory;
    QString budget;
    QString backUp;
    QString oldBackUp;
    QString record; // what the last store that finished wrote

    // Makes the folders, and the link of the linked layout.
    void make() const;
    // Replaces {L} (the budget path), {B}, {K}, {O} and {D} (the three files and their folder),
    // and {missing} (the system's text for a file that is not there).
    QString fill(QString text) const;
    std::string fill(std::string const& text) const {
        return fill(QString::fromStdString(text)).toStdString();
    }
    // The names in the folders other than the budget path, the three files, the record and the
    // synced folder.
    QStringList others() const;
};

using testing::FileSizeLimit;

// How a store or load in a child process ended, and what it printed.
struct ChildRun {
    bool crashed = false;
    int exitCode = -1;
    std::string firstText;
    std::string secondText;
    std::vector<seam::Step> trace;
    QStringList outcomes; // "stored NAME" or "loaded NAME", one per store or load
    std::string output;

    bool succeeded() const { return !crashed && exitCode == 0; }
};

// Runs the store child (StoreChild.h) with arguments until it ends; as the user asUser (with
// that number for its group too, and no other groups) where given, which takes root.
ChildRun runChild(QStringList const& arguments, std::optional<uint> asUser = std::nullopt);

// Runs a child with each of the arguments at once, and returns their runs in that order.
std::vector<ChildRun> runChildren(std::vector<QStringList> const& arguments);

// The file handling's own records, in order, as "D text", "W text" or "C text": the writer's
// progress records are left out.
std::vector<std::string> fileRecords(LogCapture const& capture);

} // namespace zel::testing::budget_file
