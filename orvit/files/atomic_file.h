// Every file orvit writes (images, settings, scenes, batch scripts) is
// written whole or not at all, so that a failure or a cancelled task never
// leaves a half-written file under the real name.
#pragma once

#include "orvit/files/removed_on_signal.h"

#include <functional>
#include <string>
#include <string_view>

namespace orvit::app {

// Writes the file `path` names: `fill` writes the new file under the
// temporary name it is given, beside the real target (a symlink at `path` is
// followed, so that the link stays and the file it names is replaced) and
// with the target's extension. The file is then flushed to disk, given the
// permissions of the file it replaces, and renamed over it. On any failure,
// and when SIGTERM, SIGINT or SIGHUP ends the process meanwhile, the
// temporary file is removed and the old file stays whole. `what` starts every
// error, e.g. "output 'out/glow.0001.png'"; `fill` throws its own.
void writeAtomically(const std::string& path, const std::string& what,
                     const std::function<void(const std::string& temporary)>& fill);

// The same with the bytes of `content`.
void writeAtomically(const std::string& path, const std::string& what, std::string_view content);

} // namespace orvit::app
