// texts.h: the differential driver's random source and the texts it draws from it.
//
// Everything the driver generates comes from one Rng seeded on the command line. Rng uses no
// standard distribution (their results are the library's choice), so a seed means the same
// sequence wherever the driver is built.
#ifndef KEL2CIFS_TESTS_DIFFERENTIAL_TEXTS_H
#define KEL2CIFS_TESTS_DIFFERENTIAL_TEXTS_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace differential {

// splitmix64.
class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // 0 to n - 1; 0 when n is 0.
    uint64_t Below(uint64_t n) { return n == 0 ? 0 : Next() % n; }
    std::size_t Index(std::size_t size) { return static_cast<std::size_t>(Below(size)); }
    bool Percent(unsigned percent) { return Below(100) < percent; }
    // An independent generator: what one part of the driver draws does not shift another's.
    Rng Fork() { return Rng(Next()); }

    template <typename T>
    const T &Pick(const std::vector<T> &items) {
        return items[Index(items.size())];
    }
    template <typename T>
    T Pick(std::initializer_list<T> items) {
        return items.begin()[Index(items.size())];
    }

  private:
    uint64_t state_;
};

// Texts a hostile or careless client or server may produce: markup and script, quotes, format
// directives, control characters, invalid and valid non-ASCII bytes, the plug-in's own tags and
// keywords, the empty text. Never a NUL.
const std::vector<std::string> &HostileTexts();

// A text for a field: mostly one of `usual` (ties come from picking the same one twice), else a
// hostile text, a usual one with a hostile text inside, or a text of a length at or next to one
// of `edges` (a field size, so that both its terminated and unterminated forms occur).
std::string FieldText(Rng &rng, const std::vector<std::string> &usual,
                      std::initializer_list<std::size_t> edges);

// A text of exactly `length` bytes, repeating `pattern` ("x" when it is empty).
std::string Repeat(const std::string &pattern, std::size_t length);

// `text` with the case of its letters changed: as it is, all upper, all lower, or mixed.
std::string MangleCase(Rng &rng, const std::string &text);

// A text of `length` random bytes other than NUL.
std::string RandomBytes(Rng &rng, std::size_t length);

}  // namespace differential

#endif  // KEL2CIFS_TESTS_DIFFERENTIAL_TEXTS_H
