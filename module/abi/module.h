// Module descriptor, server list, global lookup and activation.
#pragma once

#include "abi.h"

#include <cstddef>
#include <cstdint>

extern "C" {

// Host global lookup: service name and use mode (always 0); returns the
// service record, or null when the host has no such service. Owned by the host.
typedef void*(ORVIT_CALL* GlobalFunc)(const char* name, int32_t use);

// Activation of one server: version (1 is the only one accepted), the host's
// lookup, and the class-specific record. 0 success, 1 bad version, 2 missing
// service or no panel.
typedef int32_t(ORVIT_CALL* ActivateFunc)(int32_t version, GlobalFunc global, void* local);

struct ServerRecord {
    const char* serverClass; // NUL-terminated class name; null ends the list
    const char* serverName;  // NUL-terminated server name
    ActivateFunc activate;   // called by the host for each use of the server
};

struct ModuleDescriptor {
    uint32_t syncWord;                  // 0x04121994
    uint32_t version;                   // 2
    uint32_t machineWord;               // 0x300
    int32_t(ORVIT_CALL* startup)(void); // returns 4, does nothing else
    void(ORVIT_CALL* shutdown)(void);   // does nothing
    ServerRecord* servers;              // list ended by a record of nulls
};

// "Info Messages": slot 1 shows a two-line message; the module reads no result.
struct MessageService {
    void(ORVIT_CALL* info)(const char* line1, const char* line2);         // slot 0: unused
    void(ORVIT_CALL* errorMessage)(const char* line1, const char* line2); // slot 1
};

} // extern "C"

#define ORVIT_SYNC_WORD 0x04121994u
#define ORVIT_MODULE_VERSION 2u
#define ORVIT_MACHINE_WORD 0x300u

#if ORVIT_PTR32
static_assert(sizeof(ServerRecord) == 12, "server record is three 32-bit fields");
static_assert(offsetof(ServerRecord, serverName) == 4, "serverName at 4");
static_assert(offsetof(ServerRecord, activate) == 8, "activate at 8");
static_assert(sizeof(ModuleDescriptor) == 24, "descriptor is six 32-bit fields");
static_assert(offsetof(ModuleDescriptor, version) == 4, "version at 4");
static_assert(offsetof(ModuleDescriptor, machineWord) == 8, "machineWord at 8");
static_assert(offsetof(ModuleDescriptor, startup) == 12, "startup at 12");
static_assert(offsetof(ModuleDescriptor, shutdown) == 16, "shutdown at 16");
static_assert(offsetof(ModuleDescriptor, servers) == 20, "servers at 20");
static_assert(sizeof(MessageService) == 8, "two slots");
#endif

// Field order, in every build.
static_assert(orvit_layout::inOrder({ORVIT_POINTER(ServerRecord, serverClass),
                                     ORVIT_POINTER(ServerRecord, serverName),
                                     ORVIT_POINTER(ServerRecord, activate)}),
              "ServerRecord: class, name, activation");
static_assert(orvit_layout::inOrder({ORVIT_FIELD(ModuleDescriptor, syncWord, 4),
                                     ORVIT_FIELD(ModuleDescriptor, version, 4),
                                     ORVIT_FIELD(ModuleDescriptor, machineWord, 4),
                                     ORVIT_POINTER(ModuleDescriptor, startup),
                                     ORVIT_POINTER(ModuleDescriptor, shutdown),
                                     ORVIT_POINTER(ModuleDescriptor, servers)}),
              "ModuleDescriptor: sync word, version, machine word, startup, shutdown, servers");
static_assert(orvit_layout::inOrder({ORVIT_POINTER(MessageService, info),
                                     ORVIT_POINTER(MessageService, errorMessage)}),
              "MessageService: two slots");
