// The damaged settings files of tests/data/settings that the module's load
// does not take exactly, each with the line orvit prints for it.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// A file of tests/data/settings.
inline std::string settingsDataFile(const std::string& name) {
    return std::string(ORVIT_TEST_DATA) + "/settings/" + name;
}

struct UntakenSettings {
    const char* file;    // in tests/data/settings
    const char* message; // after "orvit: settings 'PATH': "

    std::string path() const { return settingsDataFile(file); }
    std::string errorLine() const { return "orvit: settings '" + path() + "': " + message; }
};

inline const std::vector<UntakenSettings>& untakenSettings() {
    static const std::vector<UntakenSettings> all = {
        {"version-05.txt",
         "the module stopped reading at line 2 of 9 (\"1 1\"): lines 3 to 9 were not read"},
        {"entry-count-short.txt", "the module stopped reading at line 9 of 16 "
                                  "(\"0 255 255 255 80\"): lines 10 to 16 were not read"},
        {"entry-count-past-end.txt", "the module read past the end, after line 9 of 9 "
                                     "(\"0 255 255 255 80\"): the settings are cut short"},
        {"keys-cut-short.txt", "the module read past the end, after line 6 of 6 "
                               "(\"0 255 255 255 20\"): the settings are cut short"},
        {"envelope-cut-short.txt",
         "the module read past the end, after line 6 of 6 (\"0 10\"): the settings are cut short"},
        {"version-only.txt",
         "the module read past the end, after line 1 of 1 (\"v 04\"): the settings are cut short"},
        {"empty.txt", "the module read past the end: the settings have no lines"},
        {"line-too-long.txt", "line 6 of 9 has 306 characters; the module reads 255 "
                              "(\"0 255 255 255 000000...\"): it was not taken as written"},
    };
    return all;
}

// The entry of `file`; a file not in the table is a fault of the test.
inline const UntakenSettings& untakenSettings(const std::string& file) {
    for (const UntakenSettings& s : untakenSettings())
        if (file == s.file)
            return s;
    throw std::invalid_argument("no untaken settings file " + file);
}

} // namespace testsupport
