// registry.cpp: Registry.
#include "console/registry.h"

#include <algorithm>
#include <mutex>

namespace kel::console {

Registry &Registry::Global() {
    static Registry registry;
    return registry;
}

bool Registry::IsReservedKeyword(std::string_view keyword) {
    return keyword == "login" || keyword == "logout" || keyword == "console" || keyword == "opt" ||
           keyword == "audit";
}

bool Registry::IsValidKeyword(std::string_view keyword) {
    if (keyword.empty() || keyword.size() > kMaxKeywordLength) {
        return false;
    }
    return std::all_of(keyword.begin(), keyword.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_' || c == '.';
    });
}

int Registry::Register(std::string_view displayName, std::string_view keyword,
                       std::string_view groupTitle, unsigned int flags, ServiceMethod method) {
    if (method == nullptr || !IsValidKeyword(keyword) || keyword == "." || keyword == "..") {
        return kRegistryInvalid;
    }
    if (IsReservedKeyword(keyword)) {
        return kRegistryReserved;
    }
    std::unique_lock lock(mutex_);
    for (const ServiceEntry &entry : entries_) {
        if (entry.keyword == keyword) {
            return kRegistryDuplicate;
        }
    }
    entries_.push_back({std::string(displayName.empty() ? keyword : displayName),
                        std::string(keyword), std::string(groupTitle), loadingDomain_, flags,
                        method});
    return kRegistryOk;
}

int Registry::Deregister(std::string_view keyword, ServiceMethod method) {
    std::unique_lock lock(mutex_);
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](const ServiceEntry &entry) {
        return entry.keyword == keyword && entry.method == method;
    });
    if (found == entries_.end()) {
        return kRegistryNotFound;
    }
    entries_.erase(found);
    return kRegistryOk;
}

std::optional<ServiceEntry> Registry::Find(std::string_view keyword) const {
    std::shared_lock lock(mutex_);
    for (const ServiceEntry &entry : entries_) {
        if (entry.keyword == keyword) {
            return entry;
        }
    }
    return std::nullopt;
}

std::vector<NavigationGroup> Registry::Navigation() const {
    std::shared_lock lock(mutex_);
    std::vector<NavigationGroup> groups;
    for (const ServiceEntry &entry : entries_) {
        auto group = std::find_if(groups.begin(), groups.end(), [&](const NavigationGroup &g) {
            return g.title == entry.groupTitle;
        });
        if (group == groups.end()) {
            groups.push_back({entry.groupTitle, entry.textDomain, {}});
            group = groups.end() - 1;
        }
        group->pages.push_back(entry);
    }
    return groups;
}

void Registry::SetLoadingDomain(std::string_view domain) {
    std::unique_lock lock(mutex_);
    loadingDomain_ = domain;
}

std::size_t Registry::size() const {
    std::shared_lock lock(mutex_);
    return entries_.size();
}

}  // namespace kel::console
