#include "orvit/passes/pass_reading.h"
#include "orvit/passes/special_source.h"

#include <filesystem>
#include <system_error>

namespace orvit::passes {

using core::inQuotes;

OpenPass openPass(const std::string& role, const std::string& path, OpenFiles& open) {
    OpenPass pass{role, path, nullptr};
    auto known = open.find(path);
    if (known != open.end()) {
        pass.input = known->second;
        return pass;
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        pass.fail("no such file");
    try {
        pass.input = images::openImage(path);
    } catch (const images::ImageError& e) {
        pass.fail(std::string("cannot read: ") + e.what());
    }
    open[path] = pass.input;
    return pass;
}

ColourChoice chooseColour(const OpenPass& pass, const ColourChannels& names) {
    ColourChoice choice{{-1, -1, -1, -1}};
    if (!names.empty() && !scene::takesColourChannels(names.size()))
        pass.fail("colour channels must be 3 or 4 names");
    std::vector<int> chosen;
    if (!names.empty()) {
        for (const std::string& name : names)
            chosen.push_back(pass.channel(name));
    } else if (pass.channelCount() == 1) {
        chosen = {0, 0, 0}; // grey
    } else {
        chosen = pass.recognised(PassRole::Colour);
    }
    std::copy(chosen.begin(), chosen.end(), choice.channels.begin());
    return choice;
}

SpecialChoice chooseSpecial(const OpenPass& pass, const std::string& name,
                            const std::string& cryptomatte) {
    const SpecialSource source = findSpecialSource(
        {{pass.where(), pass.header()}},
        {name, cryptomatte, {}, channelKey(PassRole::Special), "passes.cryptomatte"});
    if (source.indices)
        return {};
    if (source.cryptomatte.empty())
        return {pass.channel(source.channel), ""};
    const int c = pass.channel(pass.layer(source.cryptomatte).levels[0][0]);
    if (pass.channelType(c) != images::SampleType::Float)
        pass.fail("channel " + core::inQuotes(pass.channelName(c), '\'') + " of Cryptomatte " +
                  core::inQuotes(source.cryptomatte, '\'') + " has type " +
                  images::sampleTypeName(pass.channelType(c)) + "; its ids must be 32-bit float");
    return {c, source.cryptomatte};
}

int chooseDepth(const OpenPass& pass, const std::string& name) {
    const int c = !name.empty()              ? pass.channel(name)
                  : pass.channelCount() == 1 ? 0
                                             : pass.recognised(PassRole::Depth).front();
    if (!images::isFloating(pass.channelType(c)))
        pass.fail("channel " + core::inQuotes(pass.channelName(c), '\'') + " has type " +
                  images::sampleTypeName(pass.channelType(c)) + "; depth must be floating point");
    return c;
}

} // namespace orvit::passes
