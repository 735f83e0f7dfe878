// registry.h: the service methods plug-ins have registered, by keyword.
//
// One process-wide registry backs RegisterServiceMethodEx and DeRegisterServiceMethod. It copies
// every text it keeps (display name, keyword, group title), so the plug-in's records may go away
// after the call. Lookups take a shared lock and hand back a copy of the entry, so a method is
// called without any lock held; a plug-in is unloaded only after the server has stopped.
#ifndef KEL_CONSOLE_REGISTRY_H
#define KEL_CONSOLE_REGISTRY_H

#include <cstddef>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "kel/host.h"

namespace kel::console {

// Status words written by the registration calls.
inline constexpr int kRegistryOk = 0;
inline constexpr int kRegistryInvalid = 22;    // missing method, or a keyword that is no keyword
inline constexpr int kRegistryDuplicate = 17;  // the keyword is taken
inline constexpr int kRegistryNotFound = 2;    // no such registration
inline constexpr int kRegistryReserved = 1;    // the keyword is one of the console's own paths

// The longest keyword the console accepts.
inline constexpr std::size_t kMaxKeywordLength = 64;

struct ServiceEntry {
    std::string displayName;
    std::string keyword;
    std::string groupTitle;
    // The gettext domain of the display name and group title (the plug-in's file name without
    // ".so"), empty for a registration made outside a plug-in's load; the pages show them in the
    // request's language from it.
    std::string textDomain;
    unsigned int flags = 0;
    ServiceMethod method = nullptr;
};

// One navigation group: its title and its pages, in registration order.
struct NavigationGroup {
    std::string title;
    std::string textDomain;  // of its first page
    std::vector<ServiceEntry> pages;
};

class Registry {
  public:
    // The registry behind the host interface.
    static Registry &Global();

    // Returns kRegistryOk or one of the status words above.
    int Register(std::string_view displayName, std::string_view keyword,
                 std::string_view groupTitle, unsigned int flags, ServiceMethod method);
    // Removes the registration of `keyword` made with `method`.
    int Deregister(std::string_view keyword, ServiceMethod method);

    std::optional<ServiceEntry> Find(std::string_view keyword) const;
    // Groups in the order their first page was registered.
    std::vector<NavigationGroup> Navigation() const;
    std::size_t size() const;
    // The text domain of the plug-in being loaded, stored with each registration made until it
    // is cleared (set to "").
    void SetLoadingDomain(std::string_view domain);

    // A keyword is 1 to kMaxKeywordLength bytes of letters, digits, "-", "_" and ".", and is not
    // one of the console's own first path components.
    static bool IsValidKeyword(std::string_view keyword);
    static bool IsReservedKeyword(std::string_view keyword);

  private:
    mutable std::shared_mutex mutex_;
    std::vector<ServiceEntry> entries_;  // registration order
    std::string loadingDomain_;
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_REGISTRY_H
