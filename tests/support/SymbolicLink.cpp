#include "SymbolicLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace zel::testing {

#if defined(_WIN32)

bool makeSymbolicLink(QString const& target, QString const& link) {
    // A link to a folder must say so as it is made.
    QString const resolved =
        QDir::isAbsolutePath(target) ? target : QFileInfo(link).dir().filePath(target);
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (QFileInfo(resolved).isDir()) {
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    }
    auto const linkName = QDir::toNativeSeparators(link).toStdWString();
    auto const targetName = QDir::toNativeSeparators(target).toStdWString();
    if (!::CreateSymbolicLinkW(linkName.c_str(), targetName.c_str(), flags)) {
        return false;
    }
    // Believed only once the name stands as a link.
    DWORD const attributes = ::GetFileAttributesW(linkName.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::optional<std::string> withoutSymbolicLinks() {
    static std::optional<std::string> const why = []() -> std::optional<std::string> {
        QTemporaryDir const scratch;
        QString const target = scratch.filePath(QStringLiteral("target"));
        QFile file(target);
        if (!scratch.isValid() || !file.open(QIODevice::WriteOnly)) {
            return "no scratch folder to try a symbolic link in";
        }
        file.close();
        if (makeSymbolicLink(QStringLiteral("target"), scratch.filePath(QStringLiteral("link")))) {
            return std::nullopt;
        }
        return "this Windows makes no symbolic links (CreateSymbolicLinkW needs developer mode "
               "or the privilege to create them, and makes nothing under Wine)";
    }();
    return why;
}

#else

bool makeSymbolicLink(QString const& target, QString const& link) {
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) ==
           0;
}

std::optional<std::string> withoutSymbolicLinks() {
    return std::nullopt;
}

#endif

} // namespace zel::testing
