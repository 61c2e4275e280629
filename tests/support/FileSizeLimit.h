#pragma once

#include <csignal>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace zel::testing {

#if defined(_WIN32)
// Windows has no per-process limit on the size of the files a process writes: tests that need
// one skip there.
class FileSizeLimit {
public:
    static constexpr bool available = false;
    explicit FileSizeLimit(long long) {}
};
#else
// Limits the size of the files this process writes while it lives, as a full disk would:
// writes beyond it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    static constexpr bool available = true;

    explicit FileSizeLimit(long long bytes) : previous_(std::signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit const limited{static_cast<rlim_t>(bytes), saved_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(FileSizeLimit const&) = delete;
    FileSizeLimit& operator=(FileSizeLimit const&) = delete;

private:
    void (*previous_)(int);
    rlimit saved_{};
};
#endif

} // namespace zel::testing
