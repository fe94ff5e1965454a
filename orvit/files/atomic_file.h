// Every file orvit writes (images, settings, scenes, batch scripts) is
// written whole or not at all, so that a failure or a cancelled task never
// leaves a half-written file under the real name.
#pragma once

#include "orvit/files/removed_on_signal.h"
#include "orvit/files/temporary_files.h"

#include <functional>
#include <string>
#include <string_view>

namespace orvit::files {

// Why the file `path` names (symlinks followed) may not be replaced by a file
// orvit writes: "a folder of that name exists", or "it is a device, not a
// regular file" (a named pipe, a socket): the rename would put an image
// where a device or a pipe was, for every program that uses it. Empty for a
// regular file or none.
std::string whyNotReplaceable(const std::string& path);

// Writes the file `path` names: `fill` writes the new file under the
// temporary name it is given (temporaryName: a new file beside the real
// target, named for this host and process, with the target's extension; a
// symlink at `path` is followed, so that the link stays and the file it
// names is replaced). A target that is not a regular file is refused
// (whyNotReplaceable) before anything is made. The file is then flushed to
// disk, given the permissions of the file it replaces, and renamed over it. On any failure,
// and when SIGTERM, SIGINT or SIGHUP ends the process meanwhile, the
// temporary file is removed and the old file stays whole. `what` starts every
// error, e.g. "output 'out/glow.0001.png'"; `fill` throws its own.
// `name` gives each temporary name tried (temporaryName; a test chooses its
// own): one that exists already is never opened, another is asked for.
void writeAtomically(const std::string& path, const std::string& what,
                     const std::function<void(const std::string& temporary)>& fill,
                     const TemporaryNamer& name = temporaryName);

// The same with the bytes of `content`.
void writeAtomically(const std::string& path, const std::string& what, std::string_view content,
                     const TemporaryNamer& name = temporaryName);

} // namespace orvit::files
