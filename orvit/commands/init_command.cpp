#include "orvit/commands/init_command.h"
#include "orvit/commands/init_scene.h"

#include "orvit/commands/default_glow.h"
#include "orvit/core/host_error.h"
#include "orvit/core/text.h"
#include "orvit/files/atomic_file.h"
#include "orvit/passes/channels.h"
#include "orvit/passes/pass_sources.h"
#include "orvit/passes/passes.h"
#include "orvit/scene/scene_surfaces.h"
#include "orvit/scene/scene_writer.h"
#include "orvit/scene/toml_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace orvit::commands {
namespace {

using core::inQuotes;

std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> names;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        names.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return names;
        start = comma + 1;
    }
}

// The frames of `pattern` present in its folder, ascending: files whose
// name is the pattern's with its frame mark filled by a frame number.
std::vector<int> framesPresent(const fs::path& pattern) {
    const std::string name = pattern.filename().string();
    const scene::FrameMark mark = scene::frameMark(name);
    const std::string prefix = name.substr(0, mark.begin), suffix = name.substr(mark.end);
    std::vector<int> frames;
    std::error_code ec;
    const fs::path folder = pattern.parent_path();
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (file.size() <= prefix.size() + suffix.size() ||
            file.compare(0, prefix.size(), prefix) ||
            file.compare(file.size() - suffix.size(), suffix.size(), suffix))
            continue;
        const std::string digits =
            file.substr(prefix.size(), file.size() - prefix.size() - suffix.size());
        if (digits.size() > 8 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int frame = std::atoi(digits.c_str());
        if (scene::framePath(name, frame) == file)
            frames.push_back(frame);
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

// The frames of `pattern` to read: --frames, every file of which must be
// there, or the files present, which must leave no gap. A pattern without a
// frame number is one file for every frame and bounds nothing (empty).
std::optional<scene::FrameRange> patternRange(const InitRequest& request, const fs::path& pattern,
                                              const std::string& shown) {
    if (!request.frames.empty())
        return scene::parseFrameRange(request.frames);
    if (!scene::hasFrameNumber(pattern.string()))
        return std::nullopt;
    const std::vector<int> present = framesPresent(pattern);
    if (present.empty())
        throw core::AppError(shown + ": no file matches it (#### stands for the frame number)");
    return scene::FrameRange{present.front(), present.back()};
}

// The range every pattern agrees on, with every file of it there.
scene::FrameRange frameRange(const InitRequest& request, const std::vector<fs::path>& patterns) {
    std::optional<scene::FrameRange> range;
    std::string from;
    for (size_t i = 0; i < patterns.size(); ++i) {
        const std::string shown = core::inQuotes(request.patterns[i], '\'');
        const std::optional<scene::FrameRange> own = patternRange(request, patterns[i], shown);
        if (own && range && (own->first != range->first || own->last != range->last))
            throw core::AppError(shown + " has frames " + scene::rangeText(*own) + " but " + from +
                                 " has frames " + scene::rangeText(*range) + "; give --frames A-B");
        if (own && !range) {
            range = own;
            from = shown;
        }
    }
    const scene::FrameRange all = range.value_or(scene::FrameRange{1, 1});
    for (size_t i = 0; i < patterns.size(); ++i) {
        const std::vector<int> missing = scene::missingFrames(patterns[i].string(), all);
        if (!missing.empty())
            throw core::AppError(
                "frames " + scene::rangeText(all) + " of " +
                core::inQuotes(request.patterns[i], '\'') + ": frame " +
                std::to_string(missing.front()) + " is missing (" +
                core::inQuotes(scene::framePath(patterns[i].string(), missing.front()), '\'') +
                ")");
    }
    return all;
}

// The colour transform the request asks for, chosen as a scene's [colour]
// is; OpenColorIO's is checked now, with its configuration named whole, so
// that the scene renders alike wherever $OCIO says otherwise.
images::ColourSettings colourSettings(const InitRequest& request) {
    // init names no transform, so "--transform" is never at fault.
    const char* const options[] = {"--transform", "--ocio-config", "--display", "--view", "--look"};
    images::ColourSettings colour = images::chooseColour(
        {"", request.ocioConfig, request.display, request.view, request.look, "--view"},
        [&](images::ColourKey key, const std::string& why) {
            throw core::AppError(options[static_cast<int>(key)] + (" " + why));
        });
    if (colour.transform != images::ColourSettings::Transform::Ocio)
        return colour;
    colour.config = images::configFile(colour);
    if (colour.config.empty())
        throw core::AppError("--display and --view need an OpenColorIO configuration: give "
                             "--ocio-config FILE or set $OCIO");
    colour.config = fs::absolute(colour.config).lexically_normal().string();
    const images::ColourTransform check(colour, "--ocio-config " + inQuotes(colour.config, '\''));
    colour.display = check.display();
    return colour;
}

// Folders from `folder` up that are not there yet, the deepest first.
std::vector<fs::path> missingFolders(fs::path folder) {
    std::vector<fs::path> missing;
    std::error_code ec;
    while (!folder.empty() && !fs::exists(fs::symlink_status(folder, ec))) {
        missing.push_back(folder);
        if (folder == folder.parent_path())
            break;
        folder = folder.parent_path();
    }
    return missing;
}

} // namespace

InitResult initScene(const InitRequest& request, const std::string& builtModule) {
    InitResult r;
    // The camera first: a typing error costs no reading of frames.
    if (!request.fov.empty() && (!request.focalLength.empty() || !request.filmWidth.empty()))
        throw core::AppError(
            "--fov and --focal-length with --film-width both give the camera; give one");
    if (request.focalLength.empty() != request.filmWidth.empty())
        throw core::AppError(request.focalLength.empty() ? "--film-width needs --focal-length"
                                                         : "--focal-length needs --film-width");
    for (const auto& [text, option, high] : {std::tuple{request.fov, "--fov", 180.0},
                                             std::tuple{request.focalLength, "--focal-length", 1e9},
                                             std::tuple{request.filmWidth, "--film-width", 1e9}})
        if (!text.empty())
            parseNumber(text, option, 0, high);
    passes::NamedChannels named;
    if (!request.colourChannels.empty())
        named.colour = splitNames(request.colourChannels);
    if (!named.colour.empty() && !scene::takesColourChannels(named.colour.size()))
        throw core::AppError("--colour-channels " + core::inQuotes(request.colourChannels, '\'') +
                             ": give 3 or 4 names, R,G,B[,A]");
    named.special = request.specialChannel;
    named.cryptomatte = request.cryptomatte;
    named.depth = request.depthChannel;
    named.pickColour = "--colour-channels R,G,B[,A]";
    named.pickSpecial = "--special-channel NAME";
    named.pickLayer = "--cryptomatte NAME";
    named.pickDepth = "--depth-channel NAME";
    r.colour = colourSettings(request);

    const fs::path scene = fs::absolute(request.output).lexically_normal();
    const fs::path folder = scene.parent_path();
    r.scene = scene.string();
    r.settings = (folder / (scene.stem().string() + "-glow.txt")).string();
    std::error_code ec;
    const std::vector<fs::path> newFolders = missingFolders(folder);
    if (newFolders.empty() && !fs::is_directory(folder, ec))
        throw core::AppError("scene " + core::inQuotes(r.scene, '\'') + ": " +
                             core::inQuotes(folder.string(), '\'') + " is not a folder");
    scene::SceneFile old;
    if (request.update) {
        if (!fs::exists(r.scene, ec))
            throw core::AppError("--update: no scene " + core::inQuotes(r.scene, '\'') +
                                 " to update");
        old = scene::parseSceneFile(r.scene, true);
        if (old.settingsFile.empty())
            throw core::AppError(
                "scene " + core::inQuotes(r.scene, '\'') +
                ": key 'filter.settings' keeps the settings inline; --update keeps "
                "a settings file (filter.settings_file)");
        r.settings = old.settingsFile;
        // A colour transform set by hand stays unless this request sets one.
        if (request.display.empty() && request.view.empty() && request.look.empty() &&
            request.ocioConfig.empty())
            r.colour = old.colour;
    } else {
        for (const std::string& path : {r.scene, r.settings})
            if (fs::exists(fs::symlink_status(path, ec)))
                throw core::AppError(
                    core::inQuotes(path, '\'') +
                    " already exists; orvit init writes a new scene and its settings "
                    "(remove it, give --output another name, or --update)");
    }

    std::vector<fs::path> patterns;
    for (const std::string& pattern : request.patterns)
        patterns.push_back(fs::absolute(pattern).lexically_normal());
    r.range = frameRange(request, patterns);
    const auto frameName = [&](size_t file, int frame) {
        return "frame " + std::to_string(frame) + " " +
               core::inQuotes(scene::framePath(patterns[file].string(), frame), '\'');
    };
    // The header's reader names the file after the frame.
    const auto readHeader = [&](size_t file, int frame) {
        return passes::readPassHeader("frame " + std::to_string(frame),
                                      scene::framePath(patterns[file].string(), frame));
    };
    std::vector<passes::PassFile> firsts;
    for (size_t i = 0; i < patterns.size(); ++i)
        firsts.push_back({frameName(i, r.range.first), readHeader(i, r.range.first)});
    const passes::PassSources sources = passes::findPassSources(firsts, named);
    r.width = firsts[0].header.width;
    r.height = firsts[0].header.height;
    const std::string where = firsts[sources.special.file].where;
    r.colourPattern = request.patterns[sources.colour.file];
    r.colourChannels = sources.colour.channels;
    r.specialPattern = request.patterns[sources.special.file];
    r.specialChannel = sources.special.channel;
    r.cryptomatte = sources.special.cryptomatte;
    r.otherCryptomattes = sources.special.otherLayers;
    if (!request.names.empty() && r.cryptomatte.empty())
        throw core::AppError("--names picks objects of a Cryptomatte, but " + where +
                             " gives the special pass as channel " +
                             core::inQuotes(r.specialChannel, '\''));
    if (sources.depth.file >= 0) {
        r.depthPattern = request.patterns[sources.depth.file];
        r.depthChannel = sources.depth.channels.front();
    }

    // Every frame once: each file's size and channels, the special values
    // or names it holds and whether empty background is marked with a huge
    // depth.
    const std::string frames = "frames " + scene::rangeText(r.range);
    std::set<int> values;
    scene::HeldObjects objects;
    std::string manifestProblem; // the first frame's whose manifest names nothing
    int framesUnnamed = 0;
    std::set<std::string> notHashed;
    std::string notHashedWhere; // the first frame whose manifest has one
    const double noFar = std::numeric_limits<double>::infinity();
    for (int frame = r.range.first; frame <= r.range.last; ++frame) {
        for (size_t i = 0; i < patterns.size(); ++i) {
            const passes::PassHeader header = readHeader(i, frame);
            if (header.width != r.width || header.height != r.height)
                throw core::AppError(frameName(i, frame) + " is " + std::to_string(header.width) +
                                     "x" + std::to_string(header.height) + " but " +
                                     firsts[0].where + " is " + std::to_string(r.width) + "x" +
                                     std::to_string(r.height));
            std::vector<std::string> used;
            if (sources.colour.file == static_cast<int>(i))
                used = r.colourChannels;
            if (sources.special.file == static_cast<int>(i) && !r.specialChannel.empty())
                used.push_back(r.specialChannel);
            if (sources.depth.file == static_cast<int>(i))
                used.push_back(r.depthChannel);
            for (const std::string& name : used) {
                const std::string missing = passes::missingChannel(name, header.channels);
                if (!missing.empty())
                    throw core::AppError(frameName(i, frame) + ": " + missing);
            }
        }
        const std::string specialPath =
            scene::framePath(patterns[sources.special.file].string(), frame);
        // The depth in the special pass's decode where they share a file.
        passes::DepthPlane depth;
        const bool depthHere = sources.depth.file == sources.special.file;
        if (!r.cryptomatte.empty()) {
            passes::RankZeroAndDepth passes = passes::readRankZeroAndDepth(
                specialPath, r.cryptomatte, depthHere ? r.depthChannel : "", noFar);
            passes::addRankZeroObjects(passes, objects);
            if (!passes.manifestProblem.empty() && framesUnnamed++ == 0)
                manifestProblem = passes.manifestProblem;
            for (const std::string& name : passes::namesNotHashed(passes.names))
                if (notHashed.insert(name).second && notHashedWhere.empty())
                    notHashedWhere = frameName(sources.special.file, frame);
            depth = std::move(passes.depth);
        } else if (depthHere) {
            passes::SpecialAndDepth passes =
                passes::readSpecialAndDepth(specialPath, r.specialChannel, r.depthChannel, noFar);
            for (int v : scene::specialValuesIn(passes.special.values))
                values.insert(v);
            depth = std::move(passes.depth);
        } else {
            for (int v : scene::specialValuesIn(
                     passes::readSpecialPass(specialPath, r.specialChannel).values))
                values.insert(v);
        }
        if (!depthHere && sources.depth.file >= 0)
            depth = passes::readDepthPass(
                scene::framePath(patterns[sources.depth.file].string(), frame), r.depthChannel,
                noFar);
        r.farDepth = r.farDepth || std::any_of(depth.depths.begin(), depth.depths.end(),
                                               [](float d) { return d >= kFarFrom; });
    }
    std::vector<scene::SurfaceEntry> kept =
        request.update ? old.surfaces : std::vector<scene::SurfaceEntry>{};
    // A kept surface given by its name alone keeps the object of its name's
    // hash, and is written with that id.
    if (!r.cryptomatte.empty())
        for (scene::SurfaceEntry& k : kept)
            k.id = passes::surfaceId(k);
    // A manifest only names the objects: where none names one, its surface
    // is known by its id.
    if (framesUnnamed > 0)
        r.warnings.push_back(
            manifestProblem +
            (framesUnnamed > 1 ? " (and in " + std::to_string(framesUnnamed - 1) + " more frames)"
                               : ""));
    if (!notHashed.empty())
        r.warnings.push_back(
            notHashedWhere + ": the manifest of Cryptomatte " +
            core::inQuotes(r.cryptomatte, '\'') +
            (notHashed.size() == 1
                 ? " gives " + scene::tomlString(*notHashed.begin()) +
                       " an id other than its name's hash; the manifest's id is the object's"
                 : " gives " + std::to_string(notHashed.size()) +
                       " names ids other than their hashes (" +
                       core::boundedList(notHashed, scene::tomlString, kListRoom) +
                       "); the manifest's ids are the objects'"));
    std::vector<uint32_t> unnamed;
    for (const auto& [id, name] : objects)
        if (name.empty())
            unnamed.push_back(id);
    if (!unnamed.empty())
        r.warnings.push_back("Cryptomatte " + core::inQuotes(r.cryptomatte, '\'') + " of " +
                             frames + ": no manifest names " + std::to_string(unnamed.size()) +
                             " of its objects (ids " +
                             core::boundedList(unnamed, scene::idText, kListRoom) +
                             "): their surfaces have an id and no name");
    const scene::HeldSurfaces held =
        r.cryptomatte.empty() ? scene::surfacesForValuesHeld(values, kept)
                              : scene::surfacesForObjectsHeld(objects, request.names, kept);
    if (held.surfaces.empty()) {
        if (r.cryptomatte.empty())
            throw core::AppError("channel " + core::inQuotes(r.specialChannel, '\'') + " of " +
                                 frames +
                                 " holds no special value but 0: there is nothing to glow");
        throw core::AppError("Cryptomatte " + core::inQuotes(r.cryptomatte, '\'') + " of " +
                             frames + " holds no object" +
                             (request.names.empty() ? "" : " that --names picks") +
                             ": there is nothing to glow");
    }
    r.surfaces = held.surfaces;
    r.unheld = held.unheld;
    std::set<int> all, fresh;
    for (const scene::SurfaceEntry& s : r.surfaces) {
        all.insert(s.special);
        if (std::none_of(kept.begin(), kept.end(),
                         [&](const scene::SurfaceEntry& k) { return k.special == s.special; }))
            fresh.insert(s.special);
    }
    r.values.assign(all.begin(), all.end());

    const std::string output = request.update
                                   ? old.output
                                   : (folder / "glow" / fs::path(r.colourPattern).filename())
                                         .replace_extension(".png")
                                         .string();

    // The scene's text first, so that what it cannot hold stops init before
    // a file is made or changed; then the settings by the module, into the
    // settings file; then the scene.
    const std::string text =
        scene::sceneText(sceneToWrite(r, request, output, request.update ? &old : nullptr),
                         sceneHeading(r, request));
    scene::SceneFile made;
    made.path = r.scene;
    made.folder = folder.string();
    made.first = r.range.first;
    made.last = r.range.last;
    made.settingsFile = r.settings;
    made.surfaces = r.surfaces;
    EditOptions options;
    options.freshSettings = !request.update || old.settingsFileAbsent;
    options.surfaces = made.surfaces;
    // Kept settings change only where a value is new to them. A failure
    // takes back what was made, the folders made for it too.
    try {
        fs::create_directories(folder, ec);
        if (ec)
            throw core::AppError("scene " + core::inQuotes(r.scene, '\'') + ": folder " +
                                 core::inQuotes(folder.string(), '\'') +
                                 " cannot be made: " + ec.message());
        if (options.freshSettings) {
            editScene(made, defaultGlowScript(r.values), builtModule, options);
        } else if (!fresh.empty()) {
            made.settingsLines = old.settingsLines;
            made.module = old.module;
            made.server = old.server;
            editScene(made, defaultGlowScript({fresh.begin(), fresh.end()}), builtModule, options);
        }
        files::writeAtomically(r.scene, "scene " + core::inQuotes(r.scene, '\''), text);
    } catch (...) {
        if (options.freshSettings)
            fs::remove(r.settings, ec);
        for (const fs::path& created : newFolders)
            fs::remove(created, ec); // only when empty
        throw;
    }
    return r;
}

} // namespace orvit::commands
