// Writes the demo scene's object files (see demo_objects.h).
//
//   demo_objects OUTPUT_FOLDER
#include "demo_objects.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demo_objects OUTPUT_FOLDER\n");
        return 2;
    }
    for (const orvit::demo::DemoObject& d : orvit::demo::demoObjects()) {
        const std::string path = std::string(argv[1]) + "/" + d.file;
        if (!orvit::host::saveObjectFile(path, orvit::host::writeObjectFile(d.object))) {
            std::fprintf(stderr, "demo_objects: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
