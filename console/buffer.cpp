// buffer.cpp: ResponseBuffer.
#include "console/buffer.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

ResponseBuffer::~ResponseBuffer() {
    std::free(data_);
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
}

}  // namespace kel::console
