#include "support/fault-injection/FaultInjection.h"

#include <QFile>

namespace zel::testing::fault_injection {

QString libraryPath() {
    return QStringLiteral(ZEL_FAULT_INJECTION_LIBRARY);
}

QProcessEnvironment environment(Plan const& plan, QProcessEnvironment base) {
    QString preload = libraryPath();
    if (base.contains(QStringLiteral("LD_PRELOAD"))) {
        preload += QLatin1Char(':') + base.value(QStringLiteral("LD_PRELOAD"));
    }
    base.insert(QStringLiteral("LD_PRELOAD"), preload);
    QString asan = base.value(QStringLiteral("ASAN_OPTIONS"));
    asan += (asan.isEmpty() ? QString() : QStringLiteral(":")) +
            QStringLiteral("verify_asan_link_order=0");
    base.insert(QStringLiteral("ASAN_OPTIONS"), asan);

    base.insert(QStringLiteral("ZEL_FAULT_OPS"), plan.operations.join(QLatin1Char(',')));
    base.insert(QStringLiteral("ZEL_FAULT_DIR"), plan.directory);
    base.insert(QStringLiteral("ZEL_FAULT_AT"), QString::number(plan.at));
    base.insert(QStringLiteral("ZEL_FAULT_MODE"),
                plan.action == Action::kill       ? QStringLiteral("kill")
                : plan.action == Action::failFrom ? QStringLiteral("fail-from")
                                                  : QStringLiteral("fail"));
    base.insert(QStringLiteral("ZEL_FAULT_ERRNO"), plan.error);
    if (plan.tracePath.isEmpty()) {
        base.remove(QStringLiteral("ZEL_FAULT_TRACE"));
    } else {
        base.insert(QStringLiteral("ZEL_FAULT_TRACE"), plan.tracePath);
    }
    return base;
}

std::vector<TraceEntry> readTrace(QString const& path) {
    std::vector<TraceEntry> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return entries;
    }
    while (!file.atEnd()) {
        auto const fields = QString::fromUtf8(file.readLine()).chopped(1).split(QLatin1Char('\t'));
        if (fields.size() != 6) {
            continue;
        }
        entries.push_back(
            {fields[0].toLong(), fields[1], fields[2], fields[3], fields[4], fields[5]});
    }
    return entries;
}

} // namespace zel::testing::fault_injection
