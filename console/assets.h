// assets.h: the console's own static files: its stylesheet and its images.
//
// Images are drawn and encoded once, on first use. They are served under the image prefix that
// pages use ("/opt/zantio/kel/" + name) and the console's own prefix ("/console/").
#ifndef KEL_CONSOLE_ASSETS_H
#define KEL_CONSOLE_ASSETS_H

#include <string>
#include <string_view>

namespace kel::console {

inline constexpr char kImagePrefix[] = "/opt/zantio/kel/";
inline constexpr char kConsolePrefix[] = "/console/";

struct Asset {
    const char *contentType;
    std::string bytes;
};

// The asset served at `path`, or null. The result lives for the process.
const Asset *FindAsset(std::string_view path);

// The stylesheet text.
std::string_view Stylesheet();

}  // namespace kel::console

#endif  // KEL_CONSOLE_ASSETS_H
