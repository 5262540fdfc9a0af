#include "models/ModelEdit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <new>

#include "fileio/ByteIO.h"
#include "models/Model.h"
#include "models/ModelHeader.h"

namespace tarn {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kMaxSkinSide = 8192;
constexpr std::size_t kNameBytes = 16;

// The MDL header's fields an edit writes (modelgen.h mdl_t).
namespace mdlat {
constexpr std::size_t kEye = 36, kSkins = 48, kFrames = 68, kSyncType = 72, kFlags = 76;
}
// The MD2 header's counts and the offsets of its sections, the file's end last (qfiles.h dmdl_t).
namespace md2at {
constexpr std::size_t kSkins = 20, kFrames = 40;
constexpr std::size_t kSkinsAt = 44, kFramesAt = 56;
constexpr std::size_t kOffsets[] = {44, 48, 52, 56, 60, 64};
constexpr std::size_t kCounts[] = {20, 28, 32, 40, 36};  // skins, st, tris, frames, glcmds
}  // namespace md2at

void Require(bool ok, const std::string& why) {
  if (!ok) throw ParseError(why);
}

std::int32_t GetI32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void PutI32(Bytes& b, std::size_t at, std::int32_t v) { StoreU32(&b[at], static_cast<std::uint32_t>(v)); }

std::string NameIn(std::span<const std::uint8_t> field) {
  const auto nul = std::find(field.begin(), field.end(), 0);
  return std::string(field.begin(), nul);
}

void ReadMdl(std::span<const std::uint8_t> bytes, ModelLayout& out) {
  Require(bytes.size() >= mdl::kHeaderSize, "too short for a Quake model");
  const ModelHeader h = ReadModelHeader(bytes);
  Require(h.kind == ModelHeader::Kind::Mdl, "not a Quake model");
  Require(h.version == kMdlVersion, "it is version " + std::to_string(h.version) + ", and Quake models are version " +
                                        std::to_string(kMdlVersion));
  Require(h.skins >= 0 && h.vertices >= 0 && h.triangles >= 0 && h.frames >= 0, "negative counts");
  Require(h.skinWidth >= 0 && h.skinHeight >= 0 && h.skinWidth <= kMaxSkinSide && h.skinHeight <= kMaxSkinSide,
          "impossible skin size");
  out.format = ModelData::kMdl;
  out.skinWidth = h.skinWidth, out.skinHeight = h.skinHeight, out.vertexCount = h.vertices;
  out.syncType = h.synctype;
  out.flags = GetI32(bytes, mdlat::kFlags);
  ByteReader r(bytes);
  r.Seek(mdlat::kEye);
  for (float& e : out.eye) e = r.F32();
  const std::size_t skinBytes = static_cast<std::size_t>(h.skinWidth) * static_cast<std::size_t>(h.skinHeight);
  // No piece is smaller than its type field: a count past that cannot be inside the file.
  Require(static_cast<std::uint64_t>(h.skins) <= bytes.size() / 4 &&
              static_cast<std::uint64_t>(h.frames) <= bytes.size() / 4,
          "counts larger than the file");
  r.Seek(mdl::kHeaderSize);
  auto intervals = [&](ModelLayout::Piece& p, std::int32_t n) {
    Require(n >= 0, "a negative group size");
    Require(static_cast<std::uint64_t>(n) <= r.Remaining() / 4, "a group larger than the file");
    p.intervalsAt = r.Position();
    p.intervals.reserve(static_cast<std::size_t>(n));
    for (std::int32_t k = 0; k < n; ++k) p.intervals.push_back(r.F32());
  };
  for (std::int32_t i = 0; i < h.skins; ++i) {
    ModelLayout::Piece& p = out.skins.emplace_back();
    p.at = r.Position();
    std::int32_t n = 1;
    if (r.I32() != 0) {
      p.group = true;
      n = r.I32();
      intervals(p, n);
    }
    for (std::int32_t k = 0; k < n; ++k) {
      p.members.push_back(r.Position());
      r.Skip(skinBytes);
    }
    p.end = r.Position();
  }
  out.skinsEnd = r.Position();
  r.Skip(static_cast<std::size_t>(h.vertices) * 12);
  r.Skip(static_cast<std::size_t>(h.triangles) * 16);
  const std::size_t frameBytes = 8 + kNameBytes + static_cast<std::size_t>(h.vertices) * 4;
  auto frame = [&](ModelLayout::Piece& p) {
    p.members.push_back(r.Position());
    r.Skip(8);
    p.names.push_back(NameIn(r.Bytes(kNameBytes)));
    r.Skip(frameBytes - 8 - kNameBytes);
  };
  for (std::int32_t i = 0; i < h.frames; ++i) {
    ModelLayout::Piece& p = out.frames.emplace_back();
    p.at = r.Position();
    if (r.I32() == 0) {
      frame(p);
    } else {
      p.group = true;
      const std::int32_t n = r.I32();
      r.Skip(8);  // the group's bounds
      intervals(p, n);
      Require(static_cast<std::uint64_t>(n) <= r.Remaining() / frameBytes, "a frame group larger than the file");
      for (std::int32_t k = 0; k < n; ++k) frame(p);
    }
    p.end = r.Position();
  }
  out.framesEnd = r.Position();
}

// An MD2's section: where it starts and how many bytes it holds.
struct Section {
  std::uint64_t at = 0, size = 0;
};

std::array<Section, 5> Md2Sections(const ModelHeader& h) {
  const std::uint64_t frameSize = static_cast<std::uint32_t>(h.frameSize);
  auto section = [](std::int32_t at, std::int32_t count, std::uint64_t each) {
    return Section{static_cast<std::uint32_t>(at),
                   static_cast<std::uint64_t>(static_cast<std::uint32_t>(count)) * each};
  };
  return {section(h.skinsAt, h.skins, md2::kSkinNameSize), section(h.texCoordsAt, h.texCoords, 4),
          section(h.trianglesAt, h.triangles, 12), section(h.framesAt, h.frames, frameSize),
          section(h.glCommandsAt, h.glCommands, 4)};
}

void ReadMd2(std::span<const std::uint8_t> bytes, ModelLayout& out) {
  Require(bytes.size() >= md2::kHeaderSize, "too short for a Quake II model");
  const ModelHeader h = ReadModelHeader(bytes);
  Require(h.kind == ModelHeader::Kind::Md2, "not a Quake II model");
  Require(h.version == kMd2Version, "it is version " + std::to_string(h.version) +
                                        ", and Quake II models are version " + std::to_string(kMd2Version));
  Require(h.skins >= 0 && h.vertices >= 0 && h.texCoords >= 0 && h.triangles >= 0 && h.frames >= 0 && h.glCommands >= 0,
          "negative counts");
  Require(h.frames == 0 || (h.frameSize >= 40 && static_cast<std::uint64_t>(h.frameSize) >= 40 + 4ull * h.vertices),
          "frames too small for their vertices");
  out.format = ModelData::kMd2;
  out.skinWidth = h.skinWidth, out.skinHeight = h.skinHeight, out.vertexCount = h.vertices;
  out.frameSize = h.frameSize;
  for (const Section& s : Md2Sections(h))
    Require(s.size == 0 || (s.at >= md2::kHeaderSize && s.at <= bytes.size() && s.size <= bytes.size() - s.at),
            "a section lies outside the file");
  const std::size_t skinsAt = static_cast<std::uint32_t>(h.skinsAt);
  for (std::int32_t i = 0; i < h.skins; ++i) {
    ModelLayout::Piece& p = out.skins.emplace_back();
    p.at = skinsAt + static_cast<std::size_t>(i) * md2::kSkinNameSize;
    p.end = p.at + md2::kSkinNameSize;
    p.members.push_back(p.at);
    p.names.push_back(NameIn(bytes.subspan(p.at, md2::kSkinNameSize)));
  }
  out.skinsEnd = skinsAt + static_cast<std::size_t>(h.skins) * md2::kSkinNameSize;
  const std::size_t framesAt = static_cast<std::uint32_t>(h.framesAt), size = static_cast<std::uint32_t>(h.frameSize);
  for (std::int32_t i = 0; i < h.frames; ++i) {
    ModelLayout::Piece& p = out.frames.emplace_back();
    p.at = framesAt + static_cast<std::size_t>(i) * size;
    p.end = p.at + size;
    p.members.push_back(p.at);
    p.names.push_back(NameIn(bytes.subspan(p.at + 24, kNameBytes)));
  }
  out.framesEnd = framesAt + static_cast<std::size_t>(h.frames) * size;
}

// Replaces [at, at + removed) by inserted in an MD2 whose section of the given offset field
// holds that range, and moves every other section that lies after it (and the file's end) by the
// difference. Refused when another section overlaps the one that changes.
Bytes Md2Splice(std::span<const std::uint8_t> bytes, std::size_t offsetField, std::size_t at, std::size_t removed,
                std::span<const std::uint8_t> inserted) {
  const ModelHeader h = ReadModelHeader(bytes);
  const std::array<Section, 5> sections = Md2Sections(h);
  const std::size_t which = static_cast<std::size_t>(
      std::find(std::begin(md2at::kOffsets), std::end(md2at::kOffsets), offsetField) - std::begin(md2at::kOffsets));
  const Section own = sections[which];
  Require(own.at >= md2::kHeaderSize && own.at <= bytes.size(), "its section lies outside the file");
  const std::uint64_t start = own.at, end = own.at + own.size;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (i == which || sections[i].size == 0) continue;
    Require(sections[i].at + sections[i].size <= start || sections[i].at >= end,
            "its sections overlap, so one cannot grow or shrink without the other");
  }
  Bytes out;
  out.reserve(bytes.size() + inserted.size());
  out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  out.insert(out.end(), inserted.begin(), inserted.end());
  out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + removed), bytes.end());
  // What starts where bytes are put in, or after what is taken out, moves. Nothing may start
  // inside what is taken out: putting it back could not tell where that was.
  const std::int64_t delta = static_cast<std::int64_t>(inserted.size()) - static_cast<std::int64_t>(removed);
  for (std::size_t field : md2at::kOffsets) {
    if (field == offsetField) continue;
    const std::uint64_t o = static_cast<std::uint32_t>(GetI32(bytes, field));
    Require(removed == 0 || o < at || o >= at + removed, "another section starts inside what would be removed");
    if (o < at + removed) continue;
    const std::int64_t moved = static_cast<std::int64_t>(o) + delta;
    // Offsets are unsigned to the engines: one past 2 GiB (of an empty section) moves as it is.
    Require(moved >= 0 && moved <= UINT32_MAX, "the file would be too large");
    StoreU32(&out[field], static_cast<std::uint32_t>(moved));
  }
  return out;
}

Bytes Splice(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t removed,
             std::span<const std::uint8_t> inserted) {
  Bytes out;
  out.reserve(bytes.size() + inserted.size());
  out.insert(out.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  out.insert(out.end(), inserted.begin(), inserted.end());
  out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at + removed), bytes.end());
  return out;
}

std::span<const std::uint8_t> Range(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t end) {
  return bytes.subspan(at, end - at);
}

const ModelLayout::Piece& PieceAt(const std::vector<ModelLayout::Piece>& pieces, int index, const char* what) {
  Require(index >= 0 && static_cast<std::size_t>(index) < pieces.size(), std::string("it has no ") + what + " " +
                                                                             std::to_string(index) + " (it has " +
                                                                             std::to_string(pieces.size()) + ")");
  return pieces[static_cast<std::size_t>(index)];
}

std::size_t MemberAt(const ModelLayout::Piece& p, int index, int member, const char* what) {
  if (member < 0) {
    Require(!p.group, std::string(what) + " " + std::to_string(index) + " is a group: name one of its " +
                          std::to_string(p.members.size()) + " members");
    return p.members.front();
  }
  Require(p.group && static_cast<std::size_t>(member) < p.members.size(),
          std::string(what) + " " + std::to_string(index) + " has no member " + std::to_string(member));
  return p.members[static_cast<std::size_t>(member)];
}

void Overwrite(Bytes& out, std::size_t at, std::span<const std::uint8_t> with) {
  std::copy(with.begin(), with.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

// The edit made on bytes read as layout; undo gets its inverse.
Bytes Apply(std::span<const std::uint8_t> bytes, const ModelLayout& l, const ModelEdit& e, ModelEdit& undo) {
  using K = ModelEdit::Kind;
  const bool md2 = l.format == ModelData::kMd2;
  const std::size_t skinBytes = static_cast<std::size_t>(l.skinWidth) * static_cast<std::size_t>(l.skinHeight);
  undo = ModelEdit{};
  undo.index = e.index;
  auto mdlOnly = [&](const char* what) { Require(!md2, std::string("a Quake II model has no ") + what); };
  auto count = [](std::size_t n) -> std::int32_t {
    Require(n <= INT32_MAX, "too many pieces");
    return static_cast<std::int32_t>(n);
  };
  Bytes out;
  switch (e.kind) {
    case K::ReplaceSkin: {
      const ModelLayout::Piece& p = PieceAt(l.skins, e.index, "skin");
      const std::size_t at = MemberAt(p, e.index, e.member, "skin");
      const std::size_t size = md2 ? md2::kSkinNameSize : skinBytes;
      Require(e.bytes.size() == size,
              "a skin of " + std::to_string(e.bytes.size()) + " bytes where the model's take " + std::to_string(size));
      out.assign(bytes.begin(), bytes.end());
      undo = e;
      undo.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
      Overwrite(out, at, e.bytes);
      return out;
    }
    case K::InsertSkin: {
      Require(e.index >= 0 && static_cast<std::size_t>(e.index) <= l.skins.size(),
              "a skin cannot go at " + std::to_string(e.index));
      const std::size_t at = static_cast<std::size_t>(e.index) < l.skins.size() ? l.skins[e.index].at : l.skinsEnd;
      if (md2) {
        Require(e.bytes.size() == md2::kSkinNameSize, "a skin path is 64 bytes");
        out = Md2Splice(bytes, md2at::kSkinsAt, at, 0, e.bytes);
        PutI32(out, md2at::kSkins, count(l.skins.size() + 1));
      } else {
        out = Splice(bytes, at, 0, e.bytes);
        PutI32(out, mdlat::kSkins, count(l.skins.size() + 1));
      }
      undo.kind = K::RemoveSkin;
      undo.mayEmpty = l.skins.empty();
      return out;
    }
    case K::RemoveSkin: {
      const ModelLayout::Piece& p = PieceAt(l.skins, e.index, "skin");
      // Quake stops at a model without a skin (Mod_LoadAliasModel); Quake II draws one without.
      Require(md2 || e.mayEmpty || l.skins.size() > 1,
              "it is the model's only skin, and Quake refuses a model without one");
      out = md2 ? Md2Splice(bytes, md2at::kSkinsAt, p.at, p.end - p.at, {}) : Splice(bytes, p.at, p.end - p.at, {});
      PutI32(out, md2 ? md2at::kSkins : mdlat::kSkins, count(l.skins.size() - 1));
      undo.kind = K::InsertSkin;
      undo.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(p.at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(p.end));
      return out;
    }
    case K::GroupSkins: {
      mdlOnly("skin groups");
      Require(e.count >= 1 && e.index >= 0 && static_cast<std::size_t>(e.index) <= l.skins.size() &&
                  static_cast<std::size_t>(e.count) <= l.skins.size() - static_cast<std::size_t>(e.index),
              "there are not " + std::to_string(e.count) + " skins from skin " + std::to_string(e.index));
      Require(e.bytes.size() == 4 * static_cast<std::size_t>(e.count), "a group takes an interval for each skin");
      Bytes piece;
      ByteWriter w(piece);
      w.I32(e.value ? e.value : 1);  // the engines take any type but 0 for a group
      w.I32(e.count);
      w.Bytes(e.bytes.data(), e.bytes.size());
      for (int k = 0; k < e.count; ++k) {
        const ModelLayout::Piece& p = l.skins[static_cast<std::size_t>(e.index + k)];
        Require(!p.group, "skin " + std::to_string(e.index + k) + " is a group already");
        w.Bytes(bytes.data() + p.members.front(), skinBytes);
      }
      const std::size_t at = l.skins[e.index].at, end = l.skins[static_cast<std::size_t>(e.index + e.count - 1)].end;
      out = Splice(bytes, at, end - at, piece);
      PutI32(out, mdlat::kSkins, count(l.skins.size() - static_cast<std::size_t>(e.count) + 1));
      undo.kind = K::UngroupSkins;
      return out;
    }
    case K::UngroupSkins: {
      mdlOnly("skin groups");
      const ModelLayout::Piece& p = PieceAt(l.skins, e.index, "skin");
      Require(p.group, "skin " + std::to_string(e.index) + " is not a group");
      Require(!p.members.empty(), "skin group " + std::to_string(e.index) + " is empty");
      Bytes pieces;
      ByteWriter w(pieces);
      for (std::size_t m : p.members) {
        w.I32(0);
        w.Bytes(bytes.data() + m, skinBytes);
      }
      out = Splice(bytes, p.at, p.end - p.at, pieces);
      PutI32(out, mdlat::kSkins, count(l.skins.size() + p.members.size() - 1));
      undo.kind = K::GroupSkins;
      undo.count = static_cast<int>(p.members.size());
      undo.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(p.intervalsAt),
                        bytes.begin() + static_cast<std::ptrdiff_t>(p.intervalsAt + 4 * p.members.size()));
      undo.value = GetI32(bytes, p.at);
      return out;
    }
    case K::SetSkinIntervals: {
      mdlOnly("skin groups");
      const ModelLayout::Piece& p = PieceAt(l.skins, e.index, "skin");
      Require(p.group, "skin " + std::to_string(e.index) + " is not a group");
      Require(e.bytes.size() == 4 * p.intervals.size(), "a group takes an interval for each skin");
      out.assign(bytes.begin(), bytes.end());
      undo = e;
      undo.bytes.assign(out.begin() + static_cast<std::ptrdiff_t>(p.intervalsAt),
                        out.begin() + static_cast<std::ptrdiff_t>(p.intervalsAt + e.bytes.size()));
      Overwrite(out, p.intervalsAt, e.bytes);
      return out;
    }
    case K::RenameFrame: {
      Require(e.bytes.size() == kNameBytes, "a frame's name is 16 bytes");
      const std::size_t at = MemberAt(PieceAt(l.frames, e.index, "frame"), e.index, e.member, "frame") + (md2 ? 24 : 8);
      out.assign(bytes.begin(), bytes.end());
      undo = e;
      undo.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + kNameBytes));
      Overwrite(out, at, e.bytes);
      return out;
    }
    case K::MoveFrame: {
      PieceAt(l.frames, e.index, "frame");
      PieceAt(l.frames, e.to, "place for a frame");
      std::vector<std::size_t> order(l.frames.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
      order.erase(order.begin() + e.index);
      order.insert(order.begin() + e.to, static_cast<std::size_t>(e.index));
      out.assign(bytes.begin(), bytes.end());
      std::size_t at = l.frames.front().at;
      for (std::size_t i : order) {
        const ModelLayout::Piece& p = l.frames[i];
        Overwrite(out, at, Range(bytes, p.at, p.end));
        at += p.end - p.at;
      }
      undo.kind = K::MoveFrame;
      undo.index = e.to;
      undo.to = e.index;
      return out;
    }
    case K::InsertFrame: {
      Require(e.index >= 0 && static_cast<std::size_t>(e.index) <= l.frames.size(),
              "a frame cannot go at " + std::to_string(e.index));
      const std::size_t at = static_cast<std::size_t>(e.index) < l.frames.size() ? l.frames[e.index].at : l.framesEnd;
      if (md2) {
        Require(e.bytes.size() == static_cast<std::size_t>(static_cast<std::uint32_t>(l.frameSize)) &&
                    e.bytes.size() >= 40 + 4 * static_cast<std::size_t>(l.vertexCount),
                "a frame of " + std::to_string(e.bytes.size()) + " bytes where the model's take " +
                    std::to_string(l.frameSize));
        out = Md2Splice(bytes, md2at::kFramesAt, at, 0, e.bytes);
        PutI32(out, md2at::kFrames, count(l.frames.size() + 1));
      } else {
        out = Splice(bytes, at, 0, e.bytes);
        PutI32(out, mdlat::kFrames, count(l.frames.size() + 1));
      }
      undo.kind = K::RemoveFrame;
      undo.mayEmpty = l.frames.empty();
      return out;
    }
    case K::RemoveFrame: {
      const ModelLayout::Piece& p = PieceAt(l.frames, e.index, "frame");
      // Both games stop at a model without a frame.
      Require(e.mayEmpty || l.frames.size() > 1,
              "it is the model's only frame, and the engines refuse a model without one");
      out = md2 ? Md2Splice(bytes, md2at::kFramesAt, p.at, p.end - p.at, {}) : Splice(bytes, p.at, p.end - p.at, {});
      PutI32(out, md2 ? md2at::kFrames : mdlat::kFrames, count(l.frames.size() - 1));
      undo.kind = K::InsertFrame;
      undo.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(p.at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(p.end));
      return out;
    }
    case K::SetFlags:
    case K::SetSyncType: {
      mdlOnly(e.kind == K::SetFlags ? "flags" : "sync type");
      const std::size_t at = e.kind == K::SetFlags ? mdlat::kFlags : mdlat::kSyncType;
      out.assign(bytes.begin(), bytes.end());
      undo = e;
      undo.value = GetI32(bytes, at);
      PutI32(out, at, e.value);
      return out;
    }
    case K::SetEye: {
      mdlOnly("eye position");
      Require(e.bytes.size() == 12, "an eye position is three numbers");
      out.assign(bytes.begin(), bytes.end());
      undo = e;
      undo.bytes.assign(bytes.begin() + mdlat::kEye, bytes.begin() + mdlat::kEye + 12);
      Overwrite(out, mdlat::kEye, e.bytes);
      return out;
    }
  }
  throw ParseError("an edit Tarn does not know");
}

}  // namespace

bool ReadModelLayout(std::span<const std::uint8_t> bytes, ModelLayout& out, std::string* error) {
  out = ModelLayout{};
  try {
    if (bytes.size() >= 4 && std::memcmp(bytes.data(), "IDP2", 4) == 0) ReadMd2(bytes, out);
    else ReadMdl(bytes, out);
    return true;
  } catch (const ParseError& e) {
    out = ModelLayout{};
    if (error) *error = e.what();
  } catch (const std::bad_alloc&) {
    out = ModelLayout{};
    if (error) *error = "the model is too large to read";
  }
  return false;
}

bool ApplyModelEdit(std::span<const std::uint8_t> bytes, const ModelEdit& edit, std::vector<std::uint8_t>& out,
                    ModelEdit* undo, std::string* error) {
  ModelLayout layout;
  if (!ReadModelLayout(bytes, layout, error)) return false;
  try {
    ModelEdit inverse;
    Bytes result = Apply(bytes, layout, edit, inverse);
    // What was put in must read as what it claims to be, and leave the model whole.
    ModelLayout after;
    std::string why;
    if (!ReadModelLayout(result, after, &why)) throw ParseError("the edited model would not read: " + why);
    if (edit.kind == ModelEdit::Kind::InsertSkin || edit.kind == ModelEdit::Kind::InsertFrame) {
      const auto& pieces = edit.kind == ModelEdit::Kind::InsertSkin ? after.skins : after.frames;
      const ModelLayout::Piece& p = pieces[static_cast<std::size_t>(edit.index)];
      Require(p.end - p.at == edit.bytes.size(), "what was put in is not one whole piece");
    }
    out = std::move(result);
    if (undo) *undo = std::move(inverse);
    return true;
  } catch (const ParseError& e) {
    if (error) *error = e.what();
  } catch (const std::bad_alloc&) {
    if (error) *error = "the model is too large to edit";
  }
  return false;
}

std::span<const ModelFlagName> ModelFlagNames() {
  // EF_ROCKET to EF_TRACER3, as Quake's model.h numbers them.
  static constexpr ModelFlagName kNames[] = {{"rocket", 1},  {"grenade", 2},    {"gib", 4},      {"rotate", 8},
                                             {"tracer", 16}, {"zombiegib", 32}, {"tracer2", 64}, {"tracer3", 128}};
  return kNames;
}

bool ParseModelFlags(const std::string& text, std::int32_t& out) {
  std::int32_t flags = 0;
  std::size_t start = 0;
  if (text == "none") return out = 0, true;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    bool known = false;
    for (const ModelFlagName& f : ModelFlagNames())
      if (word == f.name) flags |= f.bit, known = true;
    if (!known) {
      std::uint32_t n = 0;
      const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
      const char* first = word.data() + (hex ? 2 : 0);
      const auto [p, ec] = std::from_chars(first, word.data() + word.size(), n, hex ? 16 : 10);
      if (word.empty() || ec != std::errc{} || p != word.data() + word.size()) return false;
      flags |= static_cast<std::int32_t>(n);
    }
    start = end + 1;
  }
  out = flags;
  return true;
}

std::string ModelFlagsText(std::int32_t flags) {
  std::string text;
  std::uint32_t rest = static_cast<std::uint32_t>(flags);
  for (const ModelFlagName& f : ModelFlagNames())
    if (rest & static_cast<std::uint32_t>(f.bit)) {
      text += (text.empty() ? "" : ",") + std::string(f.name);
      rest &= ~static_cast<std::uint32_t>(f.bit);
    }
  if (rest) text += (text.empty() ? "" : ",") + std::to_string(rest);
  return text.empty() ? "none" : text;
}

bool FrameNameField(const std::string& name, std::vector<std::uint8_t>& out) {
  if (name.size() >= kNameBytes || name.find('\0') != std::string::npos) return false;
  out.assign(kNameBytes, 0);
  std::copy(name.begin(), name.end(), out.begin());
  return true;
}

bool SkinPathField(const std::string& path, std::vector<std::uint8_t>& out) {
  if (path.size() >= md2::kSkinNameSize || path.find('\0') != std::string::npos) return false;
  out.assign(md2::kSkinNameSize, 0);
  std::copy(path.begin(), path.end(), out.begin());
  return true;
}

std::vector<std::uint8_t> FloatBytes(std::span<const float> values) {
  Bytes out;
  for (float f : values) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    ByteWriter(out).U32(bits);
  }
  return out;
}

bool EncodeMdlSkin(const RgbaImage& picture, int width, int height, const EncodeOptions& options,
                   std::vector<std::uint8_t>& pixels, std::string* error) {
  if (picture.width != width || picture.height != height) {
    if (error)
      *error = "the picture is " + std::to_string(picture.width) + " × " + std::to_string(picture.height) +
               " and the model's skins are " + std::to_string(width) + " × " + std::to_string(height);
    return false;
  }
  if (width <= 0 || height <= 0) {
    if (error) *error = "the model's skins have no pixels";
    return false;
  }
  RgbaImage opaque = picture;
  for (std::size_t i = 3; i < opaque.rgba.size(); i += 4) opaque.rgba[i] = 255;
  EncodeOptions o = options;
  o.opaque = true;
  const EncodeResult encoded = EncodeImage(opaque, OutputKind::Lmp, o);
  if (!encoded.ok) {
    if (error) *error = encoded.error;
    return false;
  }
  pixels.clear();
  pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) pixels.insert(pixels.end(), encoded.picture.Row(y), encoded.picture.Row(y) + width);
  return true;
}

bool EncodeMd2Skin(const RgbaImage& picture, const EncodeOptions& options, std::vector<std::uint8_t>& pcx,
                   std::string* error) {
  RgbaImage opaque = picture;
  for (std::size_t i = 3; i < opaque.rgba.size(); i += 4) opaque.rgba[i] = 255;
  EncodeOptions o = options;
  o.opaque = true;
  EncodeResult encoded = EncodeImage(opaque, OutputKind::Pcx, o);
  if (!encoded.ok) {
    if (error) *error = encoded.error;
    return false;
  }
  pcx = std::move(encoded.bytes);
  return true;
}

}  // namespace tarn
