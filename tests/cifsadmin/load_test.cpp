// Loads the built libkel2cifs_admin.so as the console does, against the shared doubles of
// libkel.so and libcifsmonitoring.so: what its load and unload routines register and set, and a
// page served through the registered method.
#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

#include "support/fake_host.h"
#include "support/fake_monitoring.h"

namespace {

TEST(AdminPluginLoad, RegistersBothPagesAndTheObserverAndRemovesThemAtUnload) {
    fake::ResetRegistry();
    fake::Reset();
    void *handle = dlopen(KEL2CIFS_ADMIN_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    // Only the load and unload routines are exported.
    EXPECT_NE(dlsym(handle, "_init"), nullptr);
    EXPECT_EQ(dlsym(handle, "Tr"), nullptr);

    const std::vector<fake::Registration> registered = fake::Registrations();
    ASSERT_EQ(registered.size(), 2u);
    EXPECT_EQ(registered[0].keyword, "cifsfind");
    EXPECT_EQ(registered[0].keywordLength, 8);
    EXPECT_EQ(registered[0].displayName, "Find Open Files");
    EXPECT_EQ(registered[1].keyword, "cifssessions");
    EXPECT_EQ(registered[1].keywordLength, 12);
    EXPECT_EQ(registered[1].displayName, "Sessions");
    for (const fake::Registration &r : registered) {
        EXPECT_EQ(r.flags & KEL_SERVICE_FLAG_DATA, KEL_SERVICE_FLAG_DATA);
        ASSERT_TRUE(r.group.has_value());
        EXPECT_STREQ(r.group->title, "Find and Sessions");
    }
    EXPECT_NE(fake::CurrentObserver(), nullptr);

    // A page through the registered method.
    fake::OpenFile file;
    file.connNumber = 4;
    file.volume = "VOL1";
    file.path = "/vol1/x.txt";
    fake::SetOpenFiles({file});
    const ServiceMethod find = fake::RegisteredMethod("cifsfind");
    ASSERT_NE(find, nullptr);
    fake::Request request = fake::Get("/cifsfind");
    request.query = "format=json";
    EXPECT_EQ(fake::Serve(find, request, KEL_ACCESS_READ), 200);
    EXPECT_NE(request.body.find("\"path\": \"/vol1/x.txt\""), std::string::npos) << request.body;
    EXPECT_EQ(fake::Outstanding(), 0u);

    // The first plug-in's closes reach the audit trail through the observer.
    fake::Request foreign = fake::Post("/cifscons", "");
    EXPECT_EQ(fake::Serve(
                  [](void *, int, int, unsigned) {
                      Ext_CloseFileByID(4);
                      return 200;
                  },
                  foreign, KEL_ACCESS_ADMIN),
              200);
    ASSERT_EQ(foreign.audit.size(), 1u);
    EXPECT_EQ(foreign.audit[0].target, "connection 4");

    ASSERT_EQ(dlclose(handle), 0);
    EXPECT_EQ(fake::CurrentObserver(), nullptr);
    EXPECT_EQ(fake::RegisteredMethod("cifsfind"), nullptr);
    EXPECT_EQ(fake::RegisteredMethod("cifssessions"), nullptr);
    fake::Reset();
    fake::ResetRegistry();
}

}  // namespace
