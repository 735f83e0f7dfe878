// golden.h: expected texts kept as files below tests/, read byte for byte.
#ifndef KEL2CIFS_TESTS_COMMON_GOLDEN_H
#define KEL2CIFS_TESTS_COMMON_GOLDEN_H

#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace testing_support {

// The whole text of the file at relativePath below the tests' source directory, for example
// "ofm/golden/help.html". A missing file fails the test.
inline std::string Golden(std::string_view relativePath) {
    const std::string path =
        std::string(KEL2CIFS_TESTS_SOURCE_DIR) + "/" + std::string(relativePath);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "no golden file " << path;
        return std::string();
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_support

#endif  // KEL2CIFS_TESTS_COMMON_GOLDEN_H
