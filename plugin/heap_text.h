// heap_text.h: owning a text the C library allocated (malloc, strdup, strndup).
#ifndef KEL2CIFS_PLUGIN_HEAP_TEXT_H
#define KEL2CIFS_PLUGIN_HEAP_TEXT_H

#include <cstdlib>
#include <memory>

namespace kel2cifs {

struct FreeDeleter {
    void operator()(char *text) const { std::free(text); }
};

// A heap text from malloc/strdup, freed with free() on every path out; release() hands it to a
// caller who frees it.
using HeapText = std::unique_ptr<char, FreeDeleter>;

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_HEAP_TEXT_H
