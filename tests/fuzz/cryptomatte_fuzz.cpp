// Reads the fuzzer's bytes as a Cryptomatte manifest, as renderers embed it in
// a file's header, and as the metadata of a layer declared by that header.
// A manifest gives names with ids a pixel can hold, or one runtime_error; the
// layer's names come from it the same way, or one AppError of one line; any
// other exception escapes and counts as a finding.
//
// Seeds (corpus/cryptomatte_fuzz/):
//   blender.json     a manifest of three objects, as Blender writes one
//   escapes.json     names with every JSON escape, \u included
//   nested.json      an object inside the object (refused)
#include "orvit/core/host_error.h"
#include "orvit/passes/cryptomatte.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// Every id a manifest gives is one a pixel can hold: a normal float.
void checkNames(const orvit::passes::CryptomatteNames& names) {
    for (const auto& [name, id] : names) {
        check(orvit::passes::storableId(id) == id);
        float value;
        std::memcpy(&value, &id, sizeof value);
        check(std::isnormal(value));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        checkNames(orvit::passes::parseManifest(text));
    } catch (const orvit::core::AppError&) {
        __builtin_trap(); // the parser's own failure is a runtime_error
    } catch (const std::runtime_error& e) {
        check(std::string(e.what()).rfind("not a JSON object of names to ids: at byte ", 0) == 0);
    }

    const std::map<std::string, std::string> header = {
        {"cryptomatte/abc/name", "ViewLayer.CryptoObject"},
        {"cryptomatte/abc/hash", "MurmurHash3_32"},
        {"cryptomatte/abc/conversion", "uint32_to_float32"},
        {"cryptomatte/abc/manifest", text}};
    const std::vector<std::string> channels = {
        "ViewLayer.CryptoObject00.R", "ViewLayer.CryptoObject00.G", "ViewLayer.CryptoObject00.B",
        "ViewLayer.CryptoObject00.A"};
    const std::vector<orvit::passes::CryptomatteLayer> layers =
        orvit::passes::cryptomatteLayers(header, channels);
    check(layers.size() == 1 && layers[0].problem.empty());
    try {
        checkNames(orvit::passes::layerNames(layers[0], "."));
    } catch (const orvit::core::AppError& e) {
        check(std::strchr(e.what(), '\n') == nullptr);
    }
    return 0;
}
