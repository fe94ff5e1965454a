// loadSettings on any text. The first byte picks whether an envelope service
// is installed; the rest is split into lines at "\n". Whatever loads must save
// and load again to the same lines, and nothing may leak.
//
// Seeds (corpus/load_settings_fuzz/, first byte 1 = with envelope service):
//   nine-line-example.txt      the plain version 4 example
//   unversioned.txt            the older form without version and flag lines
//   envelopes-cut-short.txt    both envelopes, out-of-range reals, data ending in an entry
//   huge-count-no-service.txt  a count of 2,000,000,000 and a flag with no service
//   version-wraps.txt          a version that wraps to 4 in 32 bits
#include "module/services/services.h"
#include "module/settings/settings.h"
#include "module/settings/settings_lines.h"
#include "tests/support/fakes/fake_envelopes.h"
#include "tests/support/fakes/fake_lines.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(data[i]));
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

std::vector<std::string> save(const orvit::FilterInstance* instance) {
    fakes::FakeLineWriter writer;
    orvit::saveSettings(instance, writer.state());
    return writer.lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool withEnvelopes = (data[0] & 1) != 0;
    fakes::FakeLineReader reader(split(data + 1, size - 1));
    {
        fakes::FakeEnvelopes envelopes;
        if (!withEnvelopes)
            orvit::envelopeService = nullptr;

        orvit::FilterInstance* instance = orvit::createInstance();
        orvit::appendSetting(instance, 1); // replaced by the load
        orvit::loadSettings(instance, reader.state());

        // Lines past the reader's 255 characters would not read back whole.
        const std::vector<std::string> first = save(instance);
        bool fits = true;
        for (const std::string& line : first)
            fits = fits && line.size() <= 255;
        if (fits) {
            fakes::FakeLineReader again(first);
            orvit::FilterInstance* copy = orvit::createInstance();
            orvit::loadSettings(copy, again.state());
            if (save(copy) != first)
                std::abort();
            orvit::destroyInstance(copy);
        }
        orvit::destroyInstance(instance);
        orvit::envelopeService = &envelopes.service;
        if (envelopes.live() != 0)
            std::abort();
    }
    return 0;
}
