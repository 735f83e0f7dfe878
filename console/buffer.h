// buffer.h: the growing byte buffer a response body is written into.
//
// The block is one malloc'd allocation, so that a finished body can be handed to the HTTP server
// without a copy (Release, then free() by the new owner). Formatted writes go straight into the
// free space with vsnprintf; only when the text does not fit is the block grown and the text
// formatted a second time. The buffer refuses to grow past its limit, so a runaway page fails its
// writes instead of exhausting memory.
#ifndef KEL_CONSOLE_BUFFER_H
#define KEL_CONSOLE_BUFFER_H

#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <string_view>

namespace kel::console {

class ResponseBuffer {
  public:
    // The first allocation; later ones double the capacity.
    static constexpr std::size_t kInitialCapacity = 16 * 1024;
    // The largest body a buffer holds unless a limit is given: room for the open-files page of a
    // volume with a million open files (about 480 MiB), while a runaway page still fails.
    static constexpr std::size_t kDefaultLimit = 1024 * 1024 * 1024;
    // A body that grows past this size is a big page: it waits for one of kBigPagesAtOnce places
    // before it grows further, and holds it until the buffer is released or cleared. So however
    // many big pages are asked for at once, only that many are built at once (the others wait
    // with the records they have), and the memory a burst takes stays bounded. Once a burst is
    // over, freed heap memory is given back to the system (TrimAfterBigPages).
    static constexpr std::size_t kBigPageSize = 8 * 1024 * 1024;
    static constexpr unsigned kBigPagesAtOnce = 2;

    explicit ResponseBuffer(std::size_t limit = kDefaultLimit) : limit_(limit) {}
    ~ResponseBuffer();
    ResponseBuffer(const ResponseBuffer &) = delete;
    ResponseBuffer &operator=(const ResponseBuffer &) = delete;

    // Appends the formatted text. Returns the number of bytes appended, or -1 (nothing appended)
    // when the format fails or the text would take the buffer past its limit.
    int AppendV(const char *format, va_list args) __attribute__((format(printf, 2, 0)));
    int Append(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // Appends the bytes as they are; false (nothing appended) past the limit.
    bool AppendBytes(std::string_view bytes);

    // The bytes written so far; data() is null until the first write, and is always followed by
    // a terminator when it is not.
    const char *data() const { return data_; }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {data_ != nullptr ? data_ : "", size_}; }

    // Hands the block over (to be released with free()) and leaves the buffer empty. *size is
    // the number of bytes written; the result may be null when nothing was.
    char *Release(std::size_t *size);
    void Clear();

  private:
    // Makes room for `more` bytes plus a terminator after the current contents.
    bool Reserve(std::size_t more);
    // Gives back the big-page place, if this buffer holds one.
    void LeaveBigPages();

    char *data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t limit_;
    bool big_ = false;  // holds a big-page place
};

// Big pages being built now (buffers holding a place), for tests and diagnostics.
unsigned BigPagesBeingBuilt();

// Frees a released body of kBigPageSize bytes or more once it has been sent.
void FreeBigBody(void *block);

// How long after the last big page was built or sent its freed memory is kept: a page asked for
// again soon (the same big volume, reloaded) reuses it instead of faulting it in anew.
inline constexpr std::chrono::milliseconds kQuietBeforeTrim{2000};

// Gives freed heap memory back to the system (malloc_trim) when big pages were built or sent
// and none has been for kQuietBeforeTrim; true when it did. The server calls it every second.
bool TrimAfterBigPages(std::chrono::steady_clock::time_point now);

// Sets the process's allocator for serving pages: freed heap memory (up to 256 MiB at the top
// of each heap) is kept for the next request instead of being given back to the system at
// once, and blocks of 32 MiB or more are mapped by themselves. What a burst of big pages leaves
// behind is not kept: it is given back once the burst is over (TrimAfterBigPages). Every page
// allocates and frees its records, its nodes and its body; memory given back after one request is
// faulted in again, page by page, by the next (a third of a 1,000-file page's time without this).
// kelconsole calls it once at start; a program that embeds the server may. Returns false when the
// allocator refused a setting.
bool TuneAllocatorForPages();

}  // namespace kel::console

#endif  // KEL_CONSOLE_BUFFER_H
