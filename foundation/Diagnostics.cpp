#include "foundation/Diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

namespace MAIL {

namespace {

std::atomic<bool> enabled{false};
std::atomic<FailureReporter> reporter{nullptr};
std::mutex outputLock;

} // namespace

void setDiagnosticsEnabled(bool on) { enabled.store(on); }

bool diagnosticsEnabled() { return enabled.load(); }

void diagnostic(const char* format, ...)
{
    if (!enabled.load() || format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (size > 0) {
        try {
            std::string text(static_cast<std::size_t>(size) + 1, '\0');
            std::vsnprintf(text.data(), text.size(), format, again);
            text.pop_back();
            std::lock_guard guard(outputLock);
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        } catch (...) {
            // A diagnostic line that cannot be built is dropped.
        }
    }
    va_end(again);
}

void setFailureReporter(FailureReporter r) { reporter.store(r); }

void reportFailure(std::string_view line)
{
    if (FailureReporter r = reporter.load()) {
        r(line);
        return;
    }
    std::lock_guard guard(outputLock);
    std::fprintf(stderr, "Pelorus: %.*s\n", static_cast<int>(line.size()), line.data());
}

} // namespace MAIL
