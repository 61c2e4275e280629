#pragma once

#include <QString>

#include <optional>
#include <string>

namespace zel::testing {

// Makes a symbolic link at link that names target (a relative target is read from the link's
// folder), as the system makes one: symlink(2) on POSIX, CreateSymbolicLinkW on Windows, never
// a shortcut file. False when it made none.
bool makeSymbolicLink(QString const& target, QString const& link);

// Why this system makes no symbolic links for the tests, or nothing when it does. Windows makes
// them only in developer mode or with the privilege to, and Wine's CreateSymbolicLinkW reports
// success and makes nothing, so the first call tries once in a scratch folder.
std::optional<std::string> withoutSymbolicLinks();

} // namespace zel::testing

// Skips the running test, with the reason, where the system makes no symbolic links.
#define ZEL_SKIP_WITHOUT_SYMBOLIC_LINKS()                                                          \
    if (auto const zelWhyNoLinks = ::zel::testing::withoutSymbolicLinks())                         \
    GTEST_SKIP() << *zelWhyNoLinks
