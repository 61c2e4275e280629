#pragma once

#include <QString>

#include <exception>
#include <stdexcept>
#include <string>

namespace zel::foundation {

// The base of every error the application's libraries throw.
//
// An Error keeps its message and a copy of what its cause said. The cause itself is not kept:
// callers often pass a reference to an exception that is about to be destroyed, so holding on
// to it would leave a dangling reference.
class Error : public std::runtime_error {
public:
    Error(QString const& message, std::exception const& cause);
    Error(Error const&) = default;
    Error(Error&&) noexcept = default;
    Error& operator=(Error const&) = default;
    Error& operator=(Error&&) noexcept = default;
    ~Error() override;

    QString const& message() const noexcept { return message_; }
    // What the cause's what() said when this error was built ("std::exception" for a default
    // constructed cause).
    std::string const& causeDescription() const noexcept { return causeDescription_; }

private:
    QString message_;
    std::string causeDescription_;
};

} // namespace zel::foundation
