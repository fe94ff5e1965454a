#include "orvit/scene/scene_surfaces.h"

#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/host/object_writer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fnmatch.h>
#include <set>
#include <system_error>
#include <tuple>

namespace fs = std::filesystem;

namespace orvit::scene {

SurfaceObject::SurfaceObject(const std::vector<SurfaceEntry>& surfaces) {
    if (surfaces.empty())
        return;
    host::ObjectDescription object;
    for (const SurfaceEntry& s : surfaces) {
        host::ObjectSurface surface;
        // The panel lists a surface known by its id only by that id.
        surface.name = s.name.empty() ? "id " + idText(s.id.value_or(0)) : s.name;
        surface.buffers = {static_cast<uint8_t>(s.special), 0, 0, 0};
        object.surfaces.push_back(surface);
    }
    std::vector<uint8_t> bytes;
    try {
        bytes = host::writeObjectFile(object);
    } catch (const std::invalid_argument& e) {
        throw core::AppError(std::string("the scene's surfaces cannot be written as an object: ") +
                             e.what());
    }
    // The folder named by $TMPDIR, else /tmp, said in the message.
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string parent = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    std::string folder = (fs::path(parent) / "orvit-surfaces-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr)
        throw core::AppError("a temporary folder for the scene's surfaces cannot be made in " +
                             core::inQuotes(parent, '\'') +
                             (tmpdir != nullptr && *tmpdir != '\0' ? " ($TMPDIR)" : "") + ": " +
                             std::strerror(errno));
    std::error_code ec;
    folder_ = folder;
    folderOnSignal_ = std::make_unique<files::RemovedOnSignal>(folder_);
    path_ = (fs::path(folder_) / "surfaces.lwo").string();
    fileOnSignal_ = std::make_unique<files::RemovedOnSignal>(path_);
    if (!host::saveObjectFile(path_, bytes)) {
        const std::string why = std::strerror(errno);
        fs::remove_all(folder_, ec);
        throw core::AppError("the scene's surfaces cannot be written to '" + path_ + "': " + why);
    }
}

SurfaceObject::~SurfaceObject() {
    if (folder_.empty())
        return;
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

int parseSpecialValue(const std::string& text, const std::string& option) {
    const bool digits = !text.empty() && text.size() <= 3 && text[0] != '0' &&
                        std::all_of(text.begin(), text.end(), [](char c) {
                            return std::isdigit(static_cast<unsigned char>(c)) != 0;
                        });
    if (!digits || std::stoi(text) > 255)
        throw core::AppError(option + " '" + text + "': expected a special value 1 to 255");
    return std::stoi(text);
}

std::vector<int> specialValuesIn(const std::vector<uint8_t>& special) {
    bool present[256] = {};
    for (uint8_t v : special)
        present[v] = true;
    std::vector<int> values;
    for (int v = 1; v < 256; ++v)
        if (present[v])
            values.push_back(v);
    return values;
}

std::vector<SurfaceEntry> surfacesForValues(const std::vector<int>& values) {
    std::vector<SurfaceEntry> surfaces;
    for (int v : values)
        surfaces.push_back({"Object " + std::to_string(v), v});
    return surfaces;
}

std::vector<SurfaceEntry> surfacesForObjects(const std::vector<SurfaceEntry>& kept,
                                             const std::vector<HeldObject>& objects,
                                             const std::string& pickWith) {
    std::vector<SurfaceEntry> surfaces = kept;
    bool taken[256] = {};
    std::set<uint32_t> ids;
    for (const SurfaceEntry& surface : kept) {
        taken[surface.special] = true;
        ids.insert(surface.id.value_or(0));
    }
    std::vector<HeldObject> fresh;
    for (const HeldObject& object : objects)
        if (ids.insert(object.first).second)
            fresh.push_back(object);
    // Named objects in their names' byte order, then those known by id only.
    std::sort(fresh.begin(), fresh.end(), [](const HeldObject& a, const HeldObject& b) {
        return std::make_tuple(a.second.empty(), a.second, a.first) <
               std::make_tuple(b.second.empty(), b.second, b.first);
    });
    const size_t free = static_cast<size_t>(std::count(taken + 1, taken + 256, false));
    if (fresh.size() > free)
        throw core::AppError(std::to_string(kept.size() + fresh.size()) +
                             " objects to glow, more than the 255 special values" +
                             (kept.empty() ? "" : " (" + std::to_string(kept.size()) + " kept)") +
                             ": pick names with " + pickWith);
    int value = 1;
    for (const HeldObject& object : fresh) {
        while (taken[value])
            ++value;
        taken[value] = true;
        surfaces.push_back({object.second, value, object.first});
    }
    return surfaces;
}

namespace {

// The objects whose names one of `globs` matches, all without globs (those
// without a name too); a glob that matches none is an error, as a typing
// error would glow nothing.
std::vector<HeldObject> pickedObjects(const HeldObjects& objects,
                                      const std::vector<std::string>& globs) {
    if (globs.empty())
        return {objects.begin(), objects.end()};
    std::vector<HeldObject> picked;
    std::set<uint32_t> taken;
    for (const std::string& glob : globs) {
        bool matched = false;
        for (const auto& object : objects) {
            if (object.second.empty() || fnmatch(glob.c_str(), object.second.c_str(), 0) != 0)
                continue;
            matched = true;
            if (taken.insert(object.first).second)
                picked.push_back(object);
        }
        if (!matched)
            throw core::AppError("--names " + core::inQuotes(glob, '\'') +
                                 " matches no object of the frames");
    }
    return picked;
}

} // namespace

HeldSurfaces surfacesForValuesHeld(const std::set<int>& values,
                                   const std::vector<SurfaceEntry>& kept) {
    HeldSurfaces held;
    held.surfaces = kept;
    for (const SurfaceEntry& s : surfacesForValues({values.begin(), values.end()}))
        if (std::none_of(kept.begin(), kept.end(),
                         [&](const SurfaceEntry& k) { return k.special == s.special; }))
            held.surfaces.push_back(s);
    for (const SurfaceEntry& k : kept)
        if (!values.count(k.special))
            held.unheld.push_back(surfaceLabel(k));
    return held;
}

HeldSurfaces surfacesForObjectsHeld(const HeldObjects& objects,
                                    const std::vector<std::string>& globs,
                                    const std::vector<SurfaceEntry>& kept) {
    HeldSurfaces held;
    held.surfaces = surfacesForObjects(kept, pickedObjects(objects, globs),
                                       "--names GLOB (such as --names 'Lamp*')");
    for (const SurfaceEntry& k : kept)
        if (!objects.count(k.id.value_or(0)))
            held.unheld.push_back(surfaceLabel(k));
    return held;
}

} // namespace orvit::scene
