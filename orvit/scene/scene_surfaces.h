// Surfaces that reach the module's panel without object files of their own:
// those a scene declares ([[surfaces]]) and those found in a frame's special
// pass. The host writes them as one object file of the format the module's
// scan reads and offers it as one more object item, so the panel lists
// their values and names exactly as it does for object files.
#pragma once

#include "orvit/files/removed_on_signal.h"
#include "orvit/scene/scene_file.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace orvit::scene {

// One object file holding `surfaces`, in a private temporary folder that is
// removed with this object, and by an ending signal (SIGTERM, SIGINT,
// SIGHUP) before the process ends. No file is made for no surfaces.
class SurfaceObject {
  public:
    explicit SurfaceObject(const std::vector<SurfaceEntry>& surfaces);
    ~SurfaceObject();
    SurfaceObject(const SurfaceObject&) = delete;
    SurfaceObject& operator=(const SurfaceObject&) = delete;

    // The object file; empty when there are no surfaces.
    const std::string& path() const { return path_; }

  private:
    std::string folder_;
    std::string path_;
    std::unique_ptr<files::RemovedOnSignal> folderOnSignal_, fileOnSignal_;
};

// A special value as the panel lists it (1 to 255, digits only), given as
// `option` on the command line; an AppError naming the option otherwise.
int parseSpecialValue(const std::string& text, const std::string& option);

// The distinct values other than 0 in a special plane's values, ascending.
std::vector<int> specialValuesIn(const std::vector<uint8_t>& special);

// A surface "Object N" for each value N.
std::vector<SurfaceEntry> surfacesForValues(const std::vector<int>& values);

// Surfaces for `objects` that keep their values from one writing of a scene
// to the next: `kept` (each with its id) first, as they are (an object no frame holds stays,
// so nothing the user set is lost), then a surface with its name and id for
// each object whose id no kept surface has, named ones in their names' byte
// order, then the others by id, with the lowest value no surface has.
// `pickWith` names the way to choose fewer objects when 255 values are not
// enough: an AppError giving the count.
std::vector<SurfaceEntry> surfacesForObjects(const std::vector<SurfaceEntry>& kept,
                                             const std::vector<HeldObject>& objects,
                                             const std::string& pickWith);

// The surfaces a scene is written with, from what its frames hold: `kept`
// (those of the scene written again) first, then a surface for each value,
// or each object, that none of them has; `unheld` names the kept ones that
// no frame holds (surfaceLabel).
struct HeldSurfaces {
    std::vector<SurfaceEntry> surfaces;
    std::vector<std::string> unheld;
};
HeldSurfaces surfacesForValuesHeld(const std::set<int>& values,
                                   const std::vector<SurfaceEntry>& kept);
// The objects taken are those whose names one of `globs` matches (all,
// without globs, the unnamed too); a glob that matches no name is an
// AppError, as a typing error would glow nothing. A kept surface (each with
// its id) is held when its id is.
HeldSurfaces surfacesForObjectsHeld(const HeldObjects& objects,
                                    const std::vector<std::string>& globs,
                                    const std::vector<SurfaceEntry>& kept);

} // namespace orvit::scene
