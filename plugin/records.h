// records.h: holding lists and records until they are freed, on every way out of a page.
#ifndef KEL2CIFS_PLUGIN_RECORDS_H
#define KEL2CIFS_PLUGIN_RECORDS_H

#include <type_traits>

namespace kel2cifs {

// Holds a list or record of type T until the destructor frees it with Free: a monitoring
// library call that takes the holder's pointer by address (FreeVolFileListNodes(&head)), or one
// of the plug-in's own that takes the pointer (FreeOpenFileList(head)). Free is not called on a
// null pointer.
template <typename T, auto Free>
class Held {
  public:
    Held() = default;
    ~Held() {
        if (pointer_ == nullptr) {
            return;
        }
        if constexpr (std::is_invocable_v<decltype(Free), T *>) {
            Free(pointer_);
        } else {
            Free(&pointer_);
        }
    }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;

    T *get() const { return pointer_; }
    // Where a call that produces the list stores it.
    T **out() { return &pointer_; }

  private:
    T *pointer_ = nullptr;
};

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_RECORDS_H
