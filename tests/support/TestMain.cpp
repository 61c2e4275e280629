#include <QCoreApplication>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Standard locations point into a test folder, never the user's own home or cache.
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setApplicationName(QStringLiteral("zel-file-storage-tests"));
    QCoreApplication app(argc, argv);
    // Debug records would bury the test output; tests that check them capture them.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
