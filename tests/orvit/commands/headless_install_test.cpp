// orvit-headless, the program farm tasks run, needs no display library; and
// both programs, installed with cmake --install under any prefix, find the
// module and the demo installed beside them and never the build tree's.
#include "tests/support/run_command.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A folder of empty files named as the window's libraries: put first on
// LD_LIBRARY_PATH, it hides them, since the loader finds these and cannot
// load them.
std::string hideWindowLibraries(const testsupport::TempFolder& dir) {
    const std::string folder = dir / "hidden";
    fs::create_directories(folder);
    const auto libraries = testsupport::runShell("(ldd " + testsupport::shellQuoted(ORVIT_PROGRAM) +
                                                     " | awk '/lib(fltk|X)/ {print $1}')",
                                                 dir / "");
    std::istringstream names(libraries.out);
    std::string name;
    int hidden = 0;
    while (names >> name) {
        std::ofstream(folder + "/" + name).flush();
        ++hidden;
    }
    EXPECT_GE(hidden, 2) << "orvit links no FLTK or X11 library to hide:\n" << libraries.out;
    return "LD_LIBRARY_PATH=" + testsupport::shellQuoted(folder);
}

TEST(HeadlessProgram, RendersWhereTheWindowLibrariesAreMissing) {
    testsupport::TempFolder dir;
    const std::string hidden = hideWindowLibraries(dir);
    const auto windowed = testsupport::runShell(
        hidden + " " + testsupport::shellQuoted(ORVIT_PROGRAM) + " info", dir / "");
    EXPECT_NE(windowed.exitCode, 0) << "the libraries were not hidden";

    const auto render = testsupport::runShell(
        hidden + " " + testsupport::shellQuoted(ORVIT_HEADLESS_PROGRAM) + " render " +
            testsupport::shellQuoted(ORVIT_DEMO_SCENE) + " --frames 2 --output " +
            testsupport::shellQuoted(dir / "out/d.####.png"),
        dir / "");
    EXPECT_EQ(render.exitCode, 0) << render.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "out/d.0002.png"));
    // The panel's window is the one thing it has not.
    const auto edit =
        testsupport::runShell(testsupport::shellQuoted(ORVIT_HEADLESS_PROGRAM) + " edit " +
                                  testsupport::shellQuoted(ORVIT_DEMO_SCENE),
                              dir / "");
    EXPECT_EQ(edit.exitCode, 1);
    EXPECT_EQ(edit.err, "orvit: this program has no window; use --script FILE to work the panel "
                        "from a script\n");
}

TEST(Installed, ProgramsFindTheirModuleDemoAndFarmProgramUnderThePrefix) {
    testsupport::TempFolder dir;
    const std::string prefix = dir / "opt/it's orvit";
    const auto install =
        testsupport::runShell("cmake --install " + testsupport::shellQuoted(ORVIT_BUILD_DIR) +
                                  " --prefix " + testsupport::shellQuoted(prefix),
                              dir / "");
    ASSERT_EQ(install.exitCode, 0) << install.err;
    for (const char* file : {"bin/orvit", "bin/orvit-headless", "share/orvit/demo/scene.toml"})
        EXPECT_TRUE(fs::is_regular_file(prefix + "/" + file)) << file;
    std::string module, zip;
    for (const auto& entry : fs::recursive_directory_iterator(prefix)) {
        if (entry.path().filename() == "Orvit.p")
            module = entry.path().string();
        if (entry.path().filename() == "orvit_glow.zip")
            zip = entry.path().string();
    }
    EXPECT_EQ(fs::path(module).parent_path().filename(), "orvit") << module;
    EXPECT_EQ(zip, prefix + "/share/orvit/orvit_glow.zip");

    const std::string bin = prefix + "/bin/";
    const auto info =
        testsupport::runShell(testsupport::shellQuoted(bin + "orvit-headless") + " info", dir / "");
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(info.out.substr(0, info.out.find('\n')), "module       " + module);
    const auto demo =
        testsupport::runShell("cd " + testsupport::shellQuoted(dir / "") + " && " +
                                  testsupport::shellQuoted(bin + "orvit") + " demo --frames 1",
                              dir / "");
    EXPECT_EQ(demo.exitCode, 0) << demo.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "out/demo.0001.png"));

    // The farm runs the installed headless program.
    fs::create_directories(dir / "slurm");
    std::ofstream(dir / "slurm/sbatch") << "#!/bin/sh\necho 5\n";
    fs::permissions(dir / "slurm/sbatch", fs::perms::owner_all);
    const auto submit = testsupport::runShell(
        "PATH=" + testsupport::shellQuoted(dir / "slurm") + ":/usr/bin:/bin " +
            testsupport::shellQuoted(bin + "orvit") + " farm submit " +
            testsupport::shellQuoted(prefix + "/share/orvit/demo/scene.toml") + " --output " +
            testsupport::shellQuoted(dir / "farm/f.####.png"),
        dir / "");
    ASSERT_EQ(submit.exitCode, 0) << submit.err;
    EXPECT_THAT(
        testsupport::readAll(dir / "farm/farm/f.####.png.sbatch"),
        testing::HasSubstr("program=" + testsupport::shellQuoted(bin + "orvit-headless") + "\n"));

    // Without its module, the installed program names the one it misses.
    fs::remove(module);
    const auto missing =
        testsupport::runShell(testsupport::shellQuoted(bin + "orvit-headless") + " info", dir / "");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.errLines().size(), 1u) << missing.err;
    EXPECT_THAT(missing.err, testing::HasSubstr(module + ": cannot open module file"));
}

} // namespace
