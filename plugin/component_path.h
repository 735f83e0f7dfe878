// component_path.h: walking a request path that the host has converted into length-prefixed
// components (each "/" replaced by one byte holding the length of the component after it).
// Shared by the pages' dispatchers; every component read is checked to lie inside the path.
#ifndef KEL2CIFS_PLUGIN_COMPONENT_PATH_H
#define KEL2CIFS_PLUGIN_COMPONENT_PATH_H

#include <strings.h>

#include <cstddef>
#include <cstring>

namespace kel2cifs {

// One length-prefixed component of a converted path.
struct Component {
    char *lengthByte = nullptr;
    char *text = nullptr;
    std::size_t length = 0;
    char *after() const { return text + length; }  // the next length byte, or the terminator
};

// The converted part of a request path after its keyword: [base, end), end being its
// terminator.
struct ConvertedPath {
    char *base = nullptr;
    char *end = nullptr;

    // The component whose length byte is at `at`; false when it does not lie inside the path.
    bool At(char *at, Component &component) const {
        if (at == nullptr || at < base || at >= end) {
            return false;
        }
        const std::size_t length = static_cast<unsigned char>(*at);
        if (length > static_cast<std::size_t>(end - at - 1)) {
            return false;
        }
        component.lengthByte = at;
        component.text = at + 1;
        component.length = length;
        return true;
    }
    bool Next(const Component &current, Component &next) const { return At(current.after(), next); }
};

// True when the component is a prefix of word without regard to case (the empty text included).
inline bool IsPrefixOf(const Component &component, const char *word) {
    return component.length <= std::strlen(word) &&
           strncasecmp(component.text, word, component.length) == 0;
}

// True when the component begins with word without regard to case.
inline bool BeginsWith(const Component &component, const char *word) {
    const std::size_t length = std::strlen(word);
    return component.length >= length && strncasecmp(component.text, word, length) == 0;
}

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_COMPONENT_PATH_H
