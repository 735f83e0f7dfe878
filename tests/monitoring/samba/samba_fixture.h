// samba_fixture.h: the recorded server tool outputs under tests/monitoring/samba/, and fixed
// answers for what the Samba backend asks the system.
#ifndef KEL2CIFS_TESTS_MONITORING_SAMBA_FIXTURE_H
#define KEL2CIFS_TESTS_MONITORING_SAMBA_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "monitoring/samba/samba_config.h"
#include "monitoring/samba/samba_state.h"
#include "monitoring/samba/samba_status.h"

namespace samba_test {

// 2024-05-03T00:00:00Z, the day of the recorded outputs.
inline constexpr uint64_t kRecordedDay = 1714694400;

inline std::string Fixture(const std::string &name) {
    std::string path = std::string(CIFSMON_SAMBA_FIXTURES) + "/" + name;
    std::string text = testing_support::ReadFile(path);
    EXPECT_TRUE(name.find("never") != std::string::npos || !text.empty()) << "missing " << path;
    return text;
}

inline cifsmon::SambaConfig RecordedConfig() {
    cifsmon::SambaConfig config;
    std::string error;
    EXPECT_TRUE(cifsmon::ParseTestparmOutput(Fixture("testparm.txt"), &config, &error)) << error;
    return config;
}

inline cifsmon::SambaStatus RecordedStatus(const std::string &name = "smbstatus.json") {
    cifsmon::SambaStatus status;
    std::string error;
    EXPECT_TRUE(cifsmon::ParseSmbstatusJson(Fixture(name), &status, &error)) << error;
    return status;
}

// The client connection of 10.1.2.4:50950 has counters (idle for 17 seconds), every process started
// at kRecordedDay + 60, user 1001 is in "bob" and "Filer Admins", every other uid in the group
// smbstatus named.
inline cifsmon::SambaLookups FixedLookups() {
    cifsmon::SambaLookups lookups;
    lookups.traffic = [](const std::vector<cifsmon::SambaSession> &sessions) {
        std::vector<std::optional<cifsmon::SambaTraffic>> traffic(sessions.size());
        for (std::size_t i = 0; i < sessions.size(); ++i) {
            if (sessions[i].clientEndpoint == "ipv4:10.1.2.4:50950") {
                traffic[i] = cifsmon::SambaTraffic{5000000000ULL, 42, 350, 17};
            }
        }
        return traffic;
    };
    lookups.processStart = [](const cifsmon::ServerId &) -> std::optional<uint64_t> {
        return kRecordedDay + 60;
    };
    lookups.groups = [](uint32_t uid, const std::string &fallback) {
        return uid == 1001 ? std::vector<std::string>{"bob", "Filer Admins"}
                           : std::vector<std::string>{fallback};
    };
    lookups.hostName = "FILER1";
    return lookups;
}

}  // namespace samba_test

#endif  // KEL2CIFS_TESTS_MONITORING_SAMBA_FIXTURE_H
