#include "orvit/core/host_error.h"
#include "orvit/core/loader.h"
#include "orvit/host/host_services.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using orvit::core::HostError;
using orvit::core::ImageFilter;
using orvit::core::LoadedModule;
using orvit::host::HostServices;

struct TestCounters {
    int startup, shutdown, activate, create, destroy, copy, load, save, process, flags;
};

// Holds a test module open beside the loader, so its counters outlive the
// loader's own handle, and zeroes them.
class CounterProbe {
  public:
    explicit CounterProbe(const char* path) : library_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (library_ != nullptr)
            counters = static_cast<TestCounters*>(dlsym(library_, "testCounters"));
        if (counters != nullptr)
            *counters = TestCounters{};
    }
    ~CounterProbe() {
        if (library_ != nullptr)
            dlclose(library_);
    }
    TestCounters* counters = nullptr;

  private:
    void* library_;
};

// The one-line error of `action`, or "" when it succeeded.
template <typename F> std::string errorOf(F action) {
    try {
        action();
    } catch (const HostError& e) {
        return e.what();
    }
    return "";
}

TEST(Loader, RefusesDamagedModuleFilesWithOneLineNamingTheFile) {
    const std::string dataDir = TEST_DATA_DIR;
    struct Case {
        std::string path;
        std::string expected; // text after "PATH: "
    };
    const Case cases[] = {
        {dataDir + "/no-such-module.p", "cannot open module file (No such file or directory)"},
        {dataDir + "/not-a-module.p", "not a loadable module ("},
        {TEST_MODULE_NO_DESCRIPTOR, "no _mod_descrip: not a module for this host"},
        {TEST_MODULE_SYNC, "wrong sync word 0x19940412 (expected 0x04121994)"},
        {TEST_MODULE_VERSION, "wrong descriptor version 3 (expected 2)"},
        {TEST_MODULE_MACHINE, "wrong machine word 0x00000200 (expected 0x00000300)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        CounterProbe probe(c.path.c_str());
        const std::string error = errorOf([&] { LoadedModule module(c.path); });
        EXPECT_EQ(error.rfind(c.path + ": " + c.expected, 0), 0u) << error;
        EXPECT_THAT(error, testing::Not(testing::HasSubstr("\n")));
        // A refused module is never started, so nothing else is called either.
        if (probe.counters != nullptr) {
            EXPECT_EQ(probe.counters->startup, 0);
            EXPECT_EQ(probe.counters->activate, 0);
            EXPECT_EQ(probe.counters->shutdown, 0);
        }
    }
}

TEST(Loader, StartsASoundModuleListsItsServersAndShutsItDown) {
    CounterProbe probe(TEST_MODULE_SOUND);
    ASSERT_NE(probe.counters, nullptr);
    {
        LoadedModule module(TEST_MODULE_SOUND);
        EXPECT_EQ(module.startupResult(), 4);
        ASSERT_EQ(module.servers().size(), 3u);
        EXPECT_EQ(module.servers()[1].serverName, "Refusing");
        EXPECT_EQ(probe.counters->startup, 1);
        EXPECT_EQ(probe.counters->shutdown, 0);
    }
    EXPECT_EQ(probe.counters->shutdown, 1);
}

TEST(Loader, ServerRefusalsNameFileServerAndResultAndCallNothingFurther) {
    HostServices services;
    struct Case {
        const char* server;
        std::string expected; // text after "PATH: "
        int activations;
    };
    const Case cases[] = {
        {"Nope", "no server ImageFilterHandler \"Nope\"", 0},
        {"Refusing",
         "server ImageFilterHandler \"Refusing\" refused activation (result 2: a host service is "
         "missing or no panel was made)",
         1},
        {"Incomplete",
         "server ImageFilterHandler \"Incomplete\" left slot 7 (flags) of the handler record "
         "empty",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server);
        CounterProbe probe(TEST_MODULE_SOUND);
        ASSERT_NE(probe.counters, nullptr);
        LoadedModule module(TEST_MODULE_SOUND);
        const std::string error = errorOf([&] {
            ImageFilter filter(module, c.server, HostServices::lookup());
            filter.create();
        });
        EXPECT_EQ(error, std::string(TEST_MODULE_SOUND) + ": " + c.expected);
        EXPECT_EQ(probe.counters->activate, c.activations);
        EXPECT_EQ(probe.counters->create, 0);
        EXPECT_EQ(probe.counters->flags, 0);
    }
}

TEST(Loader, DrivesEveryHandlerSlotOfAnActivatedServer) {
    HostServices services;
    CounterProbe probe(TEST_MODULE_SOUND);
    ASSERT_NE(probe.counters, nullptr);
    {
        LoadedModule module(TEST_MODULE_SOUND);
        ImageFilter filter(module, "Sound", HostServices::lookup());
        auto a = filter.create();
        auto b = filter.create();
        b.copyFrom(a);
        EXPECT_EQ(b.load({"x"}), 0u); // the test module reads no line
        EXPECT_TRUE(a.save().empty());
        orvit::core::MemoryFrame frame(2, 2);
        a.process(frame);
        EXPECT_EQ(a.flags(), 0u);
    }
    const TestCounters& n = *probe.counters;
    EXPECT_EQ(n.create, 2);
    EXPECT_EQ(n.copy, 1);
    EXPECT_EQ(n.load, 1);
    EXPECT_EQ(n.save, 1);
    EXPECT_EQ(n.process, 1);
    EXPECT_EQ(n.flags, 1);
    EXPECT_EQ(n.destroy, 2);
    EXPECT_EQ(n.shutdown, 1);
}

} // namespace
