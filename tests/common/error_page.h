// error_page.h: the body of the console's error page as every page of the plug-in writes it.
#ifndef KEL2CIFS_TESTS_COMMON_ERROR_PAGE_H
#define KEL2CIFS_TESTS_COMMON_ERROR_PAGE_H

#include <string>
#include <string_view>

#include "common/golden.h"

namespace testing_support {

// The error page's body showing message; language "" is English, "xx" the pseudo-translation
// catalogue of the localisation tests.
inline std::string ErrorPageBody(const std::string &message, std::string_view language = "") {
    const std::string head = language.empty()
                                 ? "plugin/golden/error_head.html"
                                 : "plugin/golden/" + std::string(language) + "/error_head.html";
    return Golden(head) + message + Golden("plugin/golden/error_tail.html");
}

}  // namespace testing_support

#endif  // KEL2CIFS_TESTS_COMMON_ERROR_PAGE_H
