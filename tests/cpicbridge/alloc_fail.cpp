// Linked into a copy of the conversation bridge with -Wl,--wrap=calloc, so that a test can
// make its next buffer allocation fail.
#include <atomic>
#include <cstddef>

extern "C" void *__real_calloc(std::size_t count, std::size_t size);

namespace {
std::atomic<bool> failNext{false};
}

extern "C" __attribute__((visibility("default"))) void allocFail_failNextCalloc() { failNext = true; }

extern "C" void *__wrap_calloc(std::size_t count, std::size_t size) {
    if (failNext.exchange(false)) return nullptr;
    return __real_calloc(count, size);
}
