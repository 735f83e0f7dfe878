// admin_render.h: the records of cifsmonitoring/administration.h as text, one line per record,
// for comparison with golden files. Every fixed array must hold its terminator and nothing but
// zeros after it; a record that breaks that fails the test.
#ifndef KEL2CIFS_TESTS_MONITORING_ADMIN_RENDER_H
#define KEL2CIFS_TESTS_MONITORING_ADMIN_RENDER_H

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cifsmonitoring/administration.h"

namespace monitoring_test {

// The text of a fixed array, checked: terminated, zero-filled after the text.
template <std::size_t N>
std::string ArrayText(const char (&array)[N]) {
    std::size_t length = 0;
    while (length < N && array[length] != '\0') {
        ++length;
    }
    EXPECT_LT(length, N) << "an array without its terminator";
    for (std::size_t i = length; i < N; ++i) {
        if (array[i] != '\0') {
            ADD_FAILURE() << "stale byte " << i << " after \"" << std::string(array, length)
                          << "\"";
            break;
        }
    }
    return std::string(array, length < N ? length : N);
}

// "RWD"-style letters of CIFSMON_ACCESS_* or CIFSMON_SHARE_* bits, "-" for none, and any other
// bit as its number.
inline std::string Bits(uint32_t bits) {
    std::string text;
    text += (bits & 0x1u) ? "R" : "";
    text += (bits & 0x2u) ? "W" : "";
    text += (bits & 0x4u) ? "D" : "";
    if ((bits & ~0x7u) != 0) {
        text += "+other" + std::to_string(bits & ~0x7u);
    }
    return text.empty() ? "-" : text;
}

inline std::string Node(uint32_t node) {
    return node == CIFSMON_NO_NODE ? "none" : std::to_string(node);
}

inline std::string RenderOpenFiles(const CifsOpenFile *list, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const CifsOpenFile &r = list[i];
        text += std::to_string(r.connNumber) + " node=" + Node(r.node) +
                " opened=" + std::to_string(r.openedAt) + " access=" + Bits(r.access) +
                " share=" + Bits(r.shareMode) + " oplock=" + ArrayText(r.oplock) +
                " volume=" + ArrayText(r.volume) + " user=" + ArrayText(r.user) +
                " client=" + ArrayText(r.client) + " path=" + (r.path ? r.path : "<null>") + "\n";
    }
    return text;
}

inline std::string RenderSessions(const CifsSession *list, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        const CifsSession &r = list[i];
        text +=
            std::to_string(r.connNumber) + " node=" + Node(r.node) + " user=" + ArrayText(r.user) +
            " client=" + ArrayText(r.client) + " machine=" + ArrayText(r.machine) +
            " dialect=" + ArrayText(r.dialect) + " signing=" + ArrayText(r.signing) +
            " encryption=" + ArrayText(r.encryption) + " files=" + std::to_string(r.openFileCount) +
            " since=" + std::to_string(r.connectedSince) + " idle=" +
            (r.idleSeconds == UINT64_MAX ? std::string("unknown") : std::to_string(r.idleSeconds)) +
            " in=" + std::to_string(r.bytesIn) + " out=" + std::to_string(r.bytesOut) + "\n";
    }
    return text;
}

}  // namespace monitoring_test

#endif  // KEL2CIFS_TESTS_MONITORING_ADMIN_RENDER_H
