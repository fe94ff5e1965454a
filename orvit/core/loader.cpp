#include "orvit/core/loader.h"

#include "orvit/core/host_error.h"
#include "orvit/core/saved_lines.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace orvit::core {

namespace {

// The longest server list read; a list without its end record is damage.
constexpr size_t kMaxServers = 1024;

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(v));
    return text;
}

std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// The system's dynamic loader, behind three calls.
#if defined(_WIN32)
void* openLibrary(const std::string& path, std::string* error) {
    HMODULE library = LoadLibraryA(path.c_str());
    if (library == nullptr)
        *error = "system error " + std::to_string(static_cast<unsigned long>(GetLastError()));
    return reinterpret_cast<void*>(library);
}
void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void closeLibrary(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}
#else
void* openLibrary(const std::string& path, std::string* error) {
    // A name without a slash would be searched for along the library path.
    const std::string local = path.find('/') == std::string::npos ? "./" + path : path;
    void* library = dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* text = dlerror();
        *error = text != nullptr ? text : "unknown error";
        // The system's text usually starts with the file name again.
        if (error->compare(0, local.size() + 2, local + ": ") == 0)
            error->erase(0, local.size() + 2);
    }
    return library;
}
void* findSymbol(void* library, const char* name) {
    return dlsym(library, name);
}
void closeLibrary(void* library) {
    dlclose(library);
}
#endif

const char* resultMeaning(int32_t result) {
    switch (result) {
    case 1:
        return "version 1 not accepted";
    case 2:
        return "a host service is missing or no panel was made";
    default:
        return "unknown result";
    }
}

} // namespace

LoadedModule::LoadedModule(const std::string& path) : path_(path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        throw HostError(path + ": cannot open module file (" + std::strerror(errno) + ")");
    std::fclose(file);

    std::string error;
    library_ = openLibrary(path, &error);
    if (library_ == nullptr)
        throw HostError(path + ": not a loadable module (" + oneLine(error) + ")");
    try {
        descriptor_ = static_cast<const ModuleDescriptor*>(findSymbol(library_, "_mod_descrip"));
        if (descriptor_ == nullptr)
            throw HostError(path + ": no _mod_descrip: not a module for this host");
        const ModuleDescriptor& d = *descriptor_;
        if (d.syncWord != ORVIT_SYNC_WORD)
            throw HostError(path + ": wrong sync word " + hex(d.syncWord) + " (expected " +
                            hex(ORVIT_SYNC_WORD) + ")");
        if (d.version != ORVIT_MODULE_VERSION)
            throw HostError(path + ": wrong descriptor version " + std::to_string(d.version) +
                            " (expected " + std::to_string(ORVIT_MODULE_VERSION) + ")");
        if (d.machineWord != ORVIT_MACHINE_WORD)
            throw HostError(path + ": wrong machine word " + hex(d.machineWord) + " (expected " +
                            hex(ORVIT_MACHINE_WORD) + ")");
        if (d.startup == nullptr)
            throw HostError(path + ": descriptor has no startup function");
    } catch (...) {
        closeLibrary(library_);
        throw;
    }

    startupResult_ = descriptor_->startup();
    try {
        // A startup that returns 0 tells the host the module cannot run.
        if (startupResult_ == 0)
            throw HostError(path + ": startup refused (result 0)");
        for (const ServerRecord* s = descriptor_->servers;
             s != nullptr && s->serverClass != nullptr; ++s) {
            if (servers_.size() == kMaxServers)
                throw HostError(path + ": server list has no end record");
            servers_.push_back(
                {s->serverClass, s->serverName != nullptr ? s->serverName : "", s->activate});
        }
    } catch (...) {
        if (descriptor_->shutdown != nullptr)
            descriptor_->shutdown();
        closeLibrary(library_);
        throw;
    }
}

LoadedModule::~LoadedModule() {
    if (descriptor_->shutdown != nullptr)
        descriptor_->shutdown();
    closeLibrary(library_);
}

std::string LoadedModule::describe(const std::string& serverClass,
                                   const std::string& serverName) const {
    return path_ + ": server " + serverClass + " \"" + serverName + "\"";
}

const ServerEntry& LoadedModule::findServer(const std::string& serverClass,
                                            const std::string& serverName) const {
    for (const ServerEntry& s : servers_)
        if (s.serverClass == serverClass && s.serverName == serverName)
            return s;
    throw HostError(path_ + ": no server " + serverClass + " \"" + serverName + "\"");
}

void LoadedModule::activate(const std::string& serverClass, const std::string& serverName,
                            GlobalFunc global, void* local) const {
    const ServerEntry& server = findServer(serverClass, serverName);
    if (server.activate == nullptr)
        throw HostError(describe(serverClass, serverName) + " has no activation function");
    const int32_t result = server.activate(1, global, local);
    if (result != 0)
        throw HostError(describe(serverClass, serverName) + " refused activation (result " +
                        std::to_string(result) + ": " + resultMeaning(result) + ")");
}

ImageFilter::ImageFilter(const LoadedModule& module, const std::string& serverName,
                         GlobalFunc global)
    : module_(module), serverName_(serverName), global_(global),
      where_(module.describe("ImageFilterHandler", serverName)) {
    module.activate("ImageFilterHandler", serverName, global, &handler_);
    const bool filled[] = {handler_.create != nullptr, handler_.destroy != nullptr,
                           handler_.copy != nullptr,   handler_.load != nullptr,
                           handler_.save != nullptr,   handler_.process != nullptr,
                           handler_.flags != nullptr};
    const char* const names[] = {"create", "destroy", "copy", "load", "save", "process", "flags"};
    for (int i = 0; i < 7; ++i)
        if (!filled[i])
            throw HostError(where_ + " left slot " + std::to_string(i + 1) + " (" + names[i] +
                            ") of the handler record empty");
}

Instance ImageFilter::create() const {
    InstanceHandle handle = handler_.create();
    if (handle == nullptr)
        throw HostError(where_ + ": create returned no instance");
    return Instance(&handler_, handle, where_);
}

void ImageFilter::openInterface(Instance& instance) const {
    module_.activate("ImageFilterInterface", serverName_, global_, instance.handle());
}

Instance::Instance(const FilterHandler* handler, InstanceHandle handle, std::string where)
    : handler_(handler), handle_(handle), where_(std::move(where)) {}

Instance::~Instance() {
    release();
}

Instance::Instance(Instance&& other) noexcept
    : handler_(other.handler_), handle_(other.handle_), where_(std::move(other.where_)) {
    other.handle_ = nullptr;
}

Instance& Instance::operator=(Instance&& other) noexcept {
    if (this != &other) {
        release();
        handler_ = other.handler_;
        handle_ = other.handle_;
        where_ = std::move(other.where_);
        other.handle_ = nullptr;
    }
    return *this;
}

void Instance::release() {
    if (handle_ != nullptr)
        handler_->destroy(handle_);
    handle_ = nullptr;
}

void Instance::check(const char* operation, int32_t result) const {
    if (result != 0)
        throw HostError(where_ + ": " + operation + " returned " + std::to_string(result));
}

void Instance::copyFrom(const Instance& source) {
    check("copy", handler_->copy(source.handle_, handle_));
}

size_t Instance::load(const std::vector<std::string>& lines) {
    return loadReporting(lines).linesRead;
}

Instance::LoadReport Instance::loadReporting(const std::vector<std::string>& lines) {
    LineReader reader(lines);
    check("load", handler_->load(handle_, reader.state()));
    return {reader.linesRead(), reader.readsPastEnd(), reader.firstCutLine(),
            reader.firstCutRoom()};
}

std::vector<std::string> Instance::save() const {
    std::vector<std::string> lines;
    LineWriter writer(lines);
    check("save", handler_->save(handle_, writer.state()));
    return lines;
}

void Instance::process(MemoryFrame& frame) {
    frame.resetOutput();
    FrameBinding binding(frame);
    handler_->process(handle_, binding.access());
}

uint32_t Instance::flags() const {
    return handler_->flags(handle_);
}

} // namespace orvit::core
