// The shared variants of the doubles, as a test that dlopens the plug-in uses them: the plug-in
// (here a probe) and the test must meet one instance of each double's state.
#include <dlfcn.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/fake_host.h"
#include "support/fake_monitoring.h"

namespace {

TEST(SharedDoubles, TheLoadedPluginAndTheTestShareOneStateOfEach) {
    fake::ResetRegistry();
    fake::Reset();
    fake::SetVolumes({"VOL1", "VOL2"});

    void *probe = dlopen(KEL2CIFS_DOUBLES_PROBE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(probe, nullptr) << dlerror();
    using Run = VolumeDetailsNode *(*)();
    auto run = reinterpret_cast<Run>(dlsym(probe, "probe_run"));
    ASSERT_NE(run, nullptr) << dlerror();

    VolumeDetailsNode *list = run();
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->volumeName, "VOL1");
    EXPECT_EQ(fake::Outstanding(), 2u);
    EXPECT_THAT(fake::Calls(), testing::ElementsAre("Ext_ListVolumeDetails()"));

    const auto registrations = fake::Registrations();
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].keyword, "probe");
    ServiceMethod method = fake::RegisteredMethod("probe");
    ASSERT_NE(method, nullptr);

    fake::Request request = fake::Get("/probe");
    EXPECT_EQ(fake::Serve(method, request, fake::kAdministratorAccess), 200);
    EXPECT_EQ(request.body, "<tr class=\"light\">");
    EXPECT_EQ(request.state, fake::Response::kEnded);
    EXPECT_THAT(request.violations, testing::IsEmpty());
    EXPECT_THAT(fake::StrayCalls(), testing::IsEmpty());

    FreeVolsDetailsNode(&list);
    EXPECT_EQ(fake::Outstanding(), 0u);
    EXPECT_THAT(fake::Errors(), testing::IsEmpty());
    dlclose(probe);
}

}  // namespace
