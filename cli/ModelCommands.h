// tarn-pak's model commands: "model" (a model made in a modelling program into a Quake or
// Quake II model), "convert" of a model entry to glTF or OBJ, and "add --as mdl|md2".
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/EncodeCommands.h"
#include "cli/MapCommands.h"

namespace tarn {
class CPackObject;
}

namespace tarn::cli {

// model IN OUT.mdl|OUT.md2 [OPTIONS], without the command's name; files written are named on
// notices, the engines' limits the model goes past on warnings.
Outcome RunModel(const std::vector<std::string>& args, std::ostream& notices, std::ostream& warnings);

// True when convert's OUT names a modelling program's file: .gltf, .glb or .obj.
bool IsModelExportName(const std::string& out);
// The model entry (shown in messages as shown) as out: glTF with every frame, or frame (counted
// from 0) alone; OBJ with its MTL and PNGs beside it, of frame (the first when -1). Every file
// is written beside its target and put in place only when all are complete. A skin the model
// names that is missing is told on warnings, and the geometry written without it.
Outcome RunModelExport(CPackObject& entry, const std::string& shown, const std::string& out, int frame,
                       std::ostream& notices, std::ostream& warnings);

// True when add's arguments ask for models (--as mdl or md2).
bool IsModelAdd(const std::vector<std::string>& args);
// add ARCHIVE --as mdl|md2 [--to DIRPATH] [OPTIONS] MODEL..., without the command's name: each
// model imported as model does it and added as its file's name with the new extension (an
// MD2's skin as a PCX of that name beside it, named in the model by its path in the archive),
// by the plain add command run with out, err, passOn and runOptions.
Outcome RunAddModel(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::vector<std::string>& passOn, const RunOptions& runOptions = {});

// modeledit ARCHIVE MODEL [--list] [EDIT...], without the command's name: read into edit (an
// entry's edit, of the shape the map commands' take), whose run makes the edits in order on the
// model's bytes (and, for an MD2's skin from a picture, the PCX its path names), lists the model
// with --list, and leaves the saving to the caller.
Outcome ParseModelEdit(const std::vector<std::string>& args, MapEdit& edit);

}  // namespace tarn::cli
