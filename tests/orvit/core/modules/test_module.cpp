// A tiny module for the loader's tests, built several times: as a sound
// module and with one defect each (TEST_DEFECT_*). It counts every call the
// host makes into it in `testCounters`.
#include "module/abi/filter_handler.h"
#include "module/abi/module.h"

extern "C" {

struct TestCounters {
    int startup, shutdown, activate, create, destroy, copy, load, save, process, flags;
};

ORVIT_EXPORT TestCounters testCounters;

static int32_t ORVIT_CALL testStartup() {
    ++testCounters.startup;
    return 4;
}
static void ORVIT_CALL testShutdown() {
    ++testCounters.shutdown;
}

static int instanceStorage;
static InstanceHandle ORVIT_CALL testCreate() {
    ++testCounters.create;
    return &instanceStorage;
}
static void ORVIT_CALL testDestroy(InstanceHandle) {
    ++testCounters.destroy;
}
static int32_t ORVIT_CALL testCopy(InstanceHandle, InstanceHandle) {
    ++testCounters.copy;
    return 0;
}
static int32_t ORVIT_CALL testLoad(InstanceHandle, const LoadState*) {
    ++testCounters.load;
    return 0;
}
static int32_t ORVIT_CALL testSave(InstanceHandle, const SaveState*) {
    ++testCounters.save;
    return 0;
}
static void ORVIT_CALL testProcess(InstanceHandle, const FrameAccess*) {
    ++testCounters.process;
}
static uint32_t ORVIT_CALL testFlags(InstanceHandle) {
    ++testCounters.flags;
    return 0;
}

static void fill(FilterHandler* h) {
    *h = {testCreate, testDestroy, testCopy, testLoad, testSave, testProcess, testFlags};
}

static int32_t ORVIT_CALL activateSound(int32_t version, GlobalFunc, void* local) {
    ++testCounters.activate;
    if (version != 1)
        return 1;
    fill(static_cast<FilterHandler*>(local));
    return 0;
}

// Fills the record and still refuses: the host must not use it.
static int32_t ORVIT_CALL activateRefusing(int32_t, GlobalFunc, void* local) {
    ++testCounters.activate;
    fill(static_cast<FilterHandler*>(local));
    return 2;
}

// Succeeds without filling the flags slot.
static int32_t ORVIT_CALL activateIncomplete(int32_t, GlobalFunc, void* local) {
    ++testCounters.activate;
    fill(static_cast<FilterHandler*>(local));
    static_cast<FilterHandler*>(local)->flags = nullptr;
    return 0;
}

static ServerRecord testServers[] = {
    {"ImageFilterHandler", "Sound", activateSound},
    {"ImageFilterHandler", "Refusing", activateRefusing},
    {"ImageFilterHandler", "Incomplete", activateIncomplete},
    {nullptr, nullptr, nullptr},
};

#if defined(TEST_DEFECT_SYNC)
#define TEST_SYNC 0x19940412u
#else
#define TEST_SYNC ORVIT_SYNC_WORD
#endif
#if defined(TEST_DEFECT_VERSION)
#define TEST_VERSION 3u
#else
#define TEST_VERSION ORVIT_MODULE_VERSION
#endif
#if defined(TEST_DEFECT_MACHINE)
#define TEST_MACHINE 0x200u
#else
#define TEST_MACHINE ORVIT_MACHINE_WORD
#endif

// The defect "no descriptor" exports it under a name the host does not look for.
#if defined(TEST_DEFECT_NO_DESCRIPTOR)
#define TEST_DESCRIPTOR mod_descrip
#else
#define TEST_DESCRIPTOR _mod_descrip
#endif
ORVIT_EXPORT ModuleDescriptor TEST_DESCRIPTOR = {
    TEST_SYNC, TEST_VERSION, TEST_MACHINE, testStartup, testShutdown, testServers,
};

} // extern "C"
