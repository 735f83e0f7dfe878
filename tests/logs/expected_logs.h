// expected_logs.h: the View Logs page as the console must receive it.
#ifndef KEL2CIFS_TESTS_LOGS_EXPECTED_LOGS_H
#define KEL2CIFS_TESTS_LOGS_EXPECTED_LOGS_H

#include <string>
#include <string_view>

#include "common/golden.h"

namespace kel2cifs::expected_logs {

inline constexpr char kDark[] = "bgcolor=#efeee9";
inline constexpr char kLight[] = "bgcolor=#ffffff";

// The list page around rows; language "" is English, "xx" the pseudo-translation catalogue.
inline std::string ListPage(const std::string &rows, std::string_view language = "") {
    const std::string head = language.empty()
                                 ? "logs/golden/list_head.html"
                                 : "logs/golden/" + std::string(language) + "/list_head.html";
    return testing_support::Golden(head) + rows +
           testing_support::Golden("logs/golden/list_tail.html");
}

// One file's row: its link (path), name and size text, on stripe.
inline std::string Row(std::string_view stripe, const std::string &path, const std::string &name,
                       const std::string &size) {
    return "<tr " + std::string(stripe) + "><td class=\"tablecol\" align=center><a href=\"" + path +
           "?VIEW\">" + name + "</a></td><td  class=\"tablecol\" align=right>" + size +
           "</td></tr>\n";
}

}  // namespace kel2cifs::expected_logs

#endif  // KEL2CIFS_TESTS_LOGS_EXPECTED_LOGS_H
