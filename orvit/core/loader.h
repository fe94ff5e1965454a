// Loading a module file and driving its image filter through the host's
// records. Every refusal is a HostError naming the file, the server and the
// value at fault; after one, nothing further is called on that module.
#pragma once

#include "module/abi/filter_handler.h"
#include "module/abi/module.h"
#include "orvit/core/memory_frame.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvit::core {

struct ServerEntry {
    std::string serverClass;
    std::string serverName;
    ActivateFunc activate;
};

// An opened module whose descriptor passed its checks and whose startup ran.
// Closing it calls shutdown, then unloads the file.
class LoadedModule {
  public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    const std::string& path() const { return path_; }
    const ModuleDescriptor& descriptor() const { return *descriptor_; }
    int32_t startupResult() const { return startupResult_; }
    const std::vector<ServerEntry>& servers() const { return servers_; }

    // The server of that class and name; a HostError when the list has none.
    const ServerEntry& findServer(const std::string& serverClass,
                                  const std::string& serverName) const;
    // Activates the server with version 1; a HostError unless it returns 0.
    void activate(const std::string& serverClass, const std::string& serverName, GlobalFunc global,
                  void* local) const;
    // "FILE: server CLASS "NAME"", the start of every error about a server.
    std::string describe(const std::string& serverClass, const std::string& serverName) const;

  private:
    std::string path_;
    void* library_ = nullptr;
    const ModuleDescriptor* descriptor_ = nullptr;
    int32_t startupResult_ = 0;
    std::vector<ServerEntry> servers_;
};

class Instance;

// An activated "ImageFilterHandler" server: the handler record it filled.
class ImageFilter {
  public:
    // Activates the server with `global` and checks that all seven slots are
    // filled. The module must outlive the filter and its instances.
    ImageFilter(const LoadedModule& module, const std::string& serverName, GlobalFunc global);

    Instance create() const;
    // Activates the "ImageFilterInterface" server of the same name on the
    // instance (the settings panel).
    void openInterface(Instance& instance) const;

    const FilterHandler& handler() const { return handler_; }
    const std::string& where() const { return where_; }

  private:
    const LoadedModule& module_;
    std::string serverName_;
    GlobalFunc global_;
    FilterHandler handler_{};
    std::string where_;
};

// One filter instance, destroyed through the handler when it goes.
class Instance {
  public:
    Instance(const FilterHandler* handler, InstanceHandle handle, std::string where);
    ~Instance();
    Instance(Instance&& other) noexcept;
    Instance& operator=(Instance&& other) noexcept;
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    InstanceHandle handle() const { return handle_; }

    // Makes this instance a copy of `source`'s settings.
    void copyFrom(const Instance& source);
    // Loads settings from `lines`; returns how many lines the module read.
    size_t load(const std::vector<std::string>& lines);
    // The same, reporting how the module's load used the line reader.
    struct LoadReport {
        size_t linesRead = 0;
        size_t readsPastEnd = 0; // reads answered "no line left"
        size_t firstCutLine = 0; // the first line the module's buffer cut, from 1
        size_t cutRoom = 0;      // the characters that buffer held
    };
    LoadReport loadReporting(const std::vector<std::string>& lines);
    std::vector<std::string> save() const;
    // Filters the frame: its output planes start as the rendered ones.
    void process(MemoryFrame& frame);
    uint32_t flags() const;

  private:
    void check(const char* operation, int32_t result) const;
    void release();

    const FilterHandler* handler_;
    InstanceHandle handle_;
    std::string where_;
};

} // namespace orvit::core
