// Quake (".mdl") and Quake II (".md2") models changed in place: a skin's pixels replaced, skins
// added, removed, grouped and ungrouped, frames and frame groups renamed, moved and removed, an
// MDL's flags, sync type and eye position, an MD2's skin paths. An edit splices only the bytes it
// concerns, so every vertex keeps the bytes the model was made with (rebuilding the model would
// quantise them again) and so does anything after the frames that editors append. Each edit
// gives back the one that undoes it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pictures/ImageEncode.h"

namespace tarn {

// Where a model's skins and frames lie in its bytes. A skin or frame is a piece as the header
// counts them: a single one, or a group of members that the engines animate by their intervals.
struct ModelLayout {
  struct Piece {
    std::size_t at = 0, end = 0;  // the whole piece (an MDL's from its type field)
    bool group = false;
    // Where each member starts (a single piece has one): an MDL skin's pixels, a frame's record,
    // an MD2 skin's path.
    std::vector<std::size_t> members;
    std::vector<std::string> names;  // a frame's names, an MD2 skin's path
    std::vector<float> intervals;    // a group's
    std::size_t intervalsAt = 0;
  };
  int format = 0;  // ModelData::kMdl or kMd2
  std::int32_t skinWidth = 0, skinHeight = 0, vertexCount = 0;
  std::int32_t flags = 0, syncType = 0;  // MDL
  float eye[3] = {0, 0, 0};              // MDL
  std::int32_t frameSize = 0;            // MD2
  std::vector<Piece> skins, frames;
  std::size_t skinsEnd = 0, framesEnd = 0;
};

// False, with the reason, when the bytes do not hold a whole MDL or MD2 of the version the
// engines load, every section inside the file.
bool ReadModelLayout(std::span<const std::uint8_t> bytes, ModelLayout& out, std::string* error);

struct ModelEdit {
  enum class Kind {
    ReplaceSkin,       // index (member): bytes the MDL skin's pixels or the MD2's 64-byte path
    InsertSkin,        // before index: bytes a whole MDL skin piece or an MD2's 64-byte path
    RemoveSkin,        // index
    GroupSkins,        // count single MDL skins from index into a group: bytes their intervals,
                       // value its type field (0: 1, as id's tools write it)
    UngroupSkins,      // MDL skin group index into single skins
    SetSkinIntervals,  // MDL skin group index: bytes its intervals
    RenameFrame,       // index (member): bytes the 16-byte name field
    MoveFrame,         // index to before what is now to (as if index were gone first)
    InsertFrame,       // before index: bytes a whole frame piece (an MD2's frame record)
    RemoveFrame,       // index
    SetFlags,          // MDL: value
    SetSyncType,       // MDL: value
    SetEye,            // MDL: bytes the three floats
  };
  Kind kind = Kind::SetFlags;
  int index = 0;
  int member = -1;  // of a group; -1 for a single skin or frame
  int to = 0;       // MoveFrame
  int count = 0;    // GroupSkins
  std::vector<std::uint8_t> bytes;
  std::int32_t value = 0;
  // RemoveSkin, RemoveFrame: the model's last may go, as when undoing putting it into a model
  // that had none (the engines refuse a model without a frame, and Quake one without a skin).
  bool mayEmpty = false;
};

// The model with the edit made, in out; undo (when given) gets the edit that turns out back
// into bytes. False with the reason when the model cannot be read or the edit does not fit it
// (an index past the end, a model's last skin or frame, a piece that does not read whole, an
// MD2 whose sections overlap where one would grow); out is then left alone.
bool ApplyModelEdit(std::span<const std::uint8_t> bytes, const ModelEdit& edit, std::vector<std::uint8_t>& out,
                    ModelEdit* undo, std::string* error);

// The effect bits of an MDL's flags, as the engines define them (EF_ROCKET ...), by their
// names: "rocket", "grenade", "gib", "rotate", "tracer", "zombiegib", "tracer2", "tracer3".
struct ModelFlagName {
  const char* name;
  std::int32_t bit;
};
std::span<const ModelFlagName> ModelFlagNames();
// "rocket,rotate", a number, or "none": false when a word is neither a flag's name nor a number.
bool ParseModelFlags(const std::string& text, std::int32_t& out);
// The names of the bits set, apart by commas, and any other bits as a number ("none" for 0).
std::string ModelFlagsText(std::int32_t flags);

// Edits made from what a person gives: a name at most 15 characters long (false otherwise), a
// path shorter than the 64 bytes an MD2 holds, a picture as a new skin's pixels.
bool FrameNameField(const std::string& name, std::vector<std::uint8_t>& out);
bool SkinPathField(const std::string& path, std::vector<std::uint8_t>& out);
std::vector<std::uint8_t> FloatBytes(std::span<const float> values);

// A picture as an MDL skin of width × height: encoded in the palette as pictures are (Quake's
// unless options name another, its glow mask taking glowing colours), every pixel opaque since
// the engines draw index 255 of a skin as a colour. False with the reason when the picture is
// not of the skin's size or cannot be encoded.
bool EncodeMdlSkin(const RgbaImage& picture, int width, int height, const EncodeOptions& options,
                   std::vector<std::uint8_t>& pixels, std::string* error);
// An MD2 skin: the PCX file the model names, in Quake II's palette unless options name another.
bool EncodeMd2Skin(const RgbaImage& picture, const EncodeOptions& options, std::vector<std::uint8_t>& pcx,
                   std::string* error);

}  // namespace tarn
