// buffer.cpp: ResponseBuffer.
#include "console/buffer.h"

#include <malloc.h>
#include <sys/mman.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kel::console {
namespace {

// A block this large is its own mapping; a page body of many megabytes fills it at once, and
// taking its memory in 2 MiB pages spares the kernel hundreds of faults per megabyte. Only the
// 2 MiB-aligned interior can use them; the advice is a hint (refused where huge pages are off).
constexpr std::size_t kHugePageSize = 2 * 1024 * 1024;
constexpr std::size_t kHugePageAdviceFrom = 4 * kHugePageSize;

void AdviseHugePages(char *block, std::size_t size) {
    if (size < kHugePageAdviceFrom) {
        return;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kHugePageSize - 1) & ~(kHugePageSize - 1);
    const std::uintptr_t end = (start + size) & ~(kHugePageSize - 1);
    if (end > first) {
        madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
    }
}

// The places of the big pages being built. A thread holds at most one, so a thread that builds
// a second body while its first holds a place never waits for itself.
class BigPageGate {
  public:
    static BigPageGate &Get() {
        static BigPageGate gate;
        return gate;
    }
    void Enter() {
        std::unique_lock lock(mutex_);
        freed_.wait(lock, [this] { return inside_ < ResponseBuffer::kBigPagesAtOnce; });
        ++inside_;
    }
    void Leave() {
        bool last = false;
        {
            std::lock_guard lock(mutex_);
            --inside_;
            last = inside_ == 0;
        }
        freed_.notify_one();
        if (last) {
            NoteBigPageDone();
        }
    }
    // A big page was built or sent: the heaps hold what it freed.
    void NoteBigPageDone() {
        std::lock_guard lock(mutex_);
        trimDue_ = true;
        lastDone_ = std::chrono::steady_clock::now();
    }
    // Whether a trim is due now (and is then no longer).
    bool TakeTrim(std::chrono::steady_clock::time_point now, std::chrono::milliseconds quiet) {
        std::lock_guard lock(mutex_);
        if (!trimDue_ || inside_ > 0 || now - lastDone_ < quiet) {
            return false;
        }
        trimDue_ = false;
        return true;
    }
    unsigned inside() {
        std::lock_guard lock(mutex_);
        return inside_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable freed_;
    unsigned inside_ = 0;
    bool trimDue_ = false;
    std::chrono::steady_clock::time_point lastDone_;
};

thread_local bool t_holdsBigPage = false;

}  // namespace

unsigned BigPagesBeingBuilt() {
    return BigPageGate::Get().inside();
}

void FreeBigBody(void *block) {
    std::free(block);
    BigPageGate::Get().NoteBigPageDone();
}

bool TrimAfterBigPages(std::chrono::steady_clock::time_point now) {
    if (!BigPageGate::Get().TakeTrim(now, kQuietBeforeTrim)) {
        return false;
    }
    malloc_trim(0);
    return true;
}

ResponseBuffer::~ResponseBuffer() {
    std::free(data_);
    LeaveBigPages();
}

void ResponseBuffer::LeaveBigPages() {
    if (big_) {
        big_ = false;
        t_holdsBigPage = false;
        BigPageGate::Get().Leave();
    }
}

bool ResponseBuffer::Reserve(std::size_t more) {
    if (more > limit_ || size_ > limit_ - more) {
        return false;
    }
    const std::size_t needed = size_ + more + 1;
    if (needed <= capacity_) {
        return true;
    }
    std::size_t capacity = capacity_ == 0 ? kInitialCapacity : capacity_;
    while (capacity < needed) {
        capacity *= 2;
    }
    if (capacity > kBigPageSize && !big_ && !t_holdsBigPage) {
        BigPageGate::Get().Enter();
        big_ = true;
        t_holdsBigPage = true;
    }
    char *grown = static_cast<char *>(std::realloc(data_, capacity));
    if (grown == nullptr) {
        return false;
    }
    data_ = grown;
    capacity_ = capacity;
    AdviseHugePages(data_, capacity_);
    return true;
}

int ResponseBuffer::AppendV(const char *format, va_list args) {
    if (format == nullptr) {
        return -1;
    }
    va_list again;
    va_copy(again, args);
    // First attempt into the free space as it is: most writes fit.
    const std::size_t room = capacity_ - size_;
    const int length = std::vsnprintf(room > 0 ? data_ + size_ : nullptr, room, format, args);
    if (length < 0) {
        va_end(again);
        if (data_ != nullptr) {
            data_[size_] = '\0';
        }
        return -1;
    }
    const std::size_t needed = static_cast<std::size_t>(length);
    if (needed > limit_ || size_ > limit_ - needed) {
        va_end(again);
        if (data_ != nullptr) {
            data_[size_] = '\0';  // undo what the first attempt wrote
        }
        return -1;
    }
    if (needed >= room) {
        if (!Reserve(needed)) {
            va_end(again);
            if (data_ != nullptr) {
                data_[size_] = '\0';  // undo the partial first attempt
            }
            return -1;
        }
        std::vsnprintf(data_ + size_, capacity_ - size_, format, again);
    }
    va_end(again);
    size_ += needed;
    return length;
}

int ResponseBuffer::Append(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int written = AppendV(format, args);
    va_end(args);
    return written;
}

bool ResponseBuffer::AppendBytes(std::string_view bytes) {
    if (bytes.empty()) {
        return true;
    }
    if (!Reserve(bytes.size())) {
        return false;
    }
    std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
    data_[size_] = '\0';
    return true;
}

char *ResponseBuffer::Release(std::size_t *size) {
    char *block = data_;
    *size = size_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    LeaveBigPages();
    return block;
}

bool TuneAllocatorForPages() {
    constexpr int kKeptFreeMemory = 256 * 1024 * 1024;
    constexpr int kMappedBlockSize = 32 * 1024 * 1024;
    const bool kept = mallopt(M_TRIM_THRESHOLD, kKeptFreeMemory) == 1;
    const bool mapped = mallopt(M_MMAP_THRESHOLD, kMappedBlockSize) == 1;
    return kept && mapped;
}

void ResponseBuffer::Clear() {
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
    LeaveBigPages();
}

}  // namespace kel::console
