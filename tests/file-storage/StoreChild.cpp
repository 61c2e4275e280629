// Stores or loads a budget file in a process of its own; see StoreChild.h.
#include "StoreChild.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    auto const print = [](QString const& line) {
        std::printf("%s\n", line.toUtf8().constData());
        std::fflush(stdout);
    };
    try {
        return zel::testing::store_child::storeOrLoad(application.arguments().mid(1), print);
    } catch (std::exception const& error) {
        print(QStringLiteral("what\t") + QString::fromLocal8Bit(error.what()));
        return 2;
    }
}
