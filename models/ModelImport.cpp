#include "models/ModelImport.h"

#include <stb_image_resize.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace tarn {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSkinHeight = 480;

}  // namespace

RgbaImage FitSkin(const RgbaImage& image, std::string* error) {
  int width = image.width, height = image.height;
  if (height > kMaxSkinHeight) {
    width = std::max(1, static_cast<int>(std::lround(static_cast<double>(width) * kMaxSkinHeight / height)));
    height = kMaxSkinHeight;
  }
  width = (width + 3) & ~3;
  if (width == image.width && height == image.height) return image;
  RgbaImage out;
  out.width = width, out.height = height;
  out.rgba.resize(static_cast<std::size_t>(width) * height * 4);
  if (!::stbir_resize_uint8_srgb(image.rgba.data(), image.width, image.height, 0, out.rgba.data(), width, height, 0, 4,
                                 3, 0)) {
    if (error) *error = "the skin cannot be resized";
    return {};
  }
  return out;
}

bool ImportModel(const std::string& path, const ModelImportOptions& options, ImportedModel& out, std::string* error) {
  out = ImportedModel{};
  auto fail = [&](const std::string& why) {
    out = ImportedModel{};
    if (error) *error = why;
    return false;
  };
  if (!(options.fps > 0 && options.fps <= 1000)) return fail("the frame rate must be above 0 and at most 1000");
  try {
    ModelReadRequest request;
    std::error_code ec;
    request.path = fs::absolute(path, ec).string();
    request.fps = options.fps;
    request.skin = !options.skin;
    ReadModel read;
    std::string why;
    if (!RunModelReader(request, nullptr, read, &why)) return fail(why);
    const SourceModel& source = read.source;
    out.animations = std::move(read.animations);

    // The skin, fitted and encoded in the game's palette.
    const RgbaImage& image = options.skin ? *options.skin : read.skin;
    RgbaImage skin = FitSkin(image, &why);
    if (skin.rgba.empty()) return fail(why);
    // A skin has no see-through pixels: each keeps its colour.
    for (std::size_t i = 3; i < skin.rgba.size(); i += 4) skin.rgba[i] = 255;
    const bool md2 = options.format == ModelData::kMd2;
    EncodeOptions encode = options.encode;
    encode.opaque = true;  // the games draw index 255 of a skin as its colour
    EncodeResult encoded = EncodeImage(skin, md2 ? OutputKind::Pcx : OutputKind::Lmp, encode);
    if (!encoded.ok) return fail("the skin: " + encoded.error);

    if (!PackModel(source, options.format, skin.width, skin.height, out.model, &why)) return fail(why);
    // What the reading left out comes before the engines' limits.
    out.model.warnings.insert(out.model.warnings.begin(), read.warnings.begin(), read.warnings.end());
    if (!read.moreSkins.empty() && !options.skin)
      out.model.warnings.push_back("only the first of its " + std::to_string(read.moreSkins.size() + 1) +
                                   " skins is written");
    if (md2) {
      out.model.skinPath = options.skinPath;
      out.skinBytes = std::move(encoded.bytes);
      out.bytes = WriteMd2(out.model);
    } else {
      out.model.skin.reserve(static_cast<std::size_t>(skin.width) * skin.height);
      for (int y = 0; y < skin.height; ++y)
        out.model.skin.insert(out.model.skin.end(), encoded.picture.Row(y), encoded.picture.Row(y) + skin.width);
      out.bytes = WriteMdl(out.model);
    }
    return true;
  } catch (const std::bad_alloc&) {
    return fail("the model is too large to read");
  }
}

bool ModelForView(ReadModel read, const std::string& path, ModelData& out, std::string* error) {
  out = ModelData{};
  auto fail = [&](const std::string& why) {
    out = ModelData{};
    if (error) *error = why;
    return false;
  };
  try {
    // Without its texture a model in flat colours (one, or one a material side by side) shows
    // only its outline: a checkerboard of each colour and a darker shade shows its surfaces,
    // in squares of 8 pixels on a skin made at least 64 pixels a side.
    if (!read.textured && read.skin.width > 0 && read.skin.height > 0 &&
        read.skin.rgba.size() == static_cast<std::size_t>(read.skin.width) * read.skin.height * 4) {
      const RgbaImage& flat = read.skin;
      const int f = std::max(1, (64 + std::min(flat.width, flat.height) - 1) / std::min(flat.width, flat.height));
      if (static_cast<std::int64_t>(flat.width) * f * flat.height * f > std::int64_t{4096} * 4096)
        return fail("the skin cannot be read");
      RgbaImage checks;
      checks.width = flat.width * f, checks.height = flat.height * f;
      checks.rgba.reserve(static_cast<std::size_t>(checks.width) * checks.height * 4);
      for (int y = 0; y < checks.height; ++y)
        for (int x = 0; x < checks.width; ++x) {
          const bool dark = ((x / 8) + (y / 8)) % 2 != 0;
          const std::uint8_t* c = &flat.rgba[(static_cast<std::size_t>(y / f) * flat.width + x / f) * 4];
          for (int k = 0; k < 3; ++k) checks.rgba.push_back(static_cast<std::uint8_t>(dark ? c[k] * 3 / 4 : c[k]));
          checks.rgba.push_back(255);
        }
      read.skin = std::move(checks);
    }
    const RgbaImage& image = read.skin;
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4)
      return fail("the skin cannot be read");
    ModelSkin skin;
    skin.width = image.width, skin.height = image.height;
    skin.paddedWidth = PaddedSize(image.width), skin.paddedHeight = PaddedSize(image.height);
    skin.pixels.assign(static_cast<std::size_t>(skin.paddedWidth) * skin.paddedHeight * 3, 0);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        for (int c = 0; c < 3; ++c)
          skin.pixels[(static_cast<std::size_t>(y) * skin.paddedWidth + x) * 3 + c] =
              image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4 + c];
    skin.name = "skin";
    out.skins.push_back(std::move(skin));
    // Further skins in the first one's texture coordinates: each is drawn at that one's size.
    for (const RgbaImage& more : read.moreSkins) {
      if (more.width <= 0 || more.height <= 0 ||
          more.rgba.size() != static_cast<std::size_t>(more.width) * static_cast<std::size_t>(more.height) * 4)
        return fail("the skin cannot be read");
      RgbaImage fitted;
      fitted.width = image.width, fitted.height = image.height;
      fitted.rgba.resize(image.rgba.size());
      if (!::stbir_resize_uint8_srgb(more.rgba.data(), more.width, more.height, 0, fitted.rgba.data(), image.width,
                                     image.height, 0, 4, 3, 0))
        return fail("the skin cannot be resized");
      ModelSkin next = out.skins.front();
      for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
          for (int c = 0; c < 3; ++c)
            next.pixels[(static_cast<std::size_t>(y) * next.paddedWidth + x) * 3 + c] =
                fitted.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4 + c];
      next.name = "skin " + std::to_string(out.skins.size());
      out.skins.push_back(std::move(next));
    }
    out.readFacts = std::move(read.facts);

    // One texture coordinate a corner, in the skin's pixels (tiling ones kept as they are).
    const SourceModel& source = read.source;
    auto pixel = [](float f, int size) {
      const double v = std::isfinite(f) ? std::clamp(static_cast<double>(f) * size, -1e6, 1e6) : 0.0;
      return static_cast<std::int32_t>(std::lround(v));
    };
    for (const auto& t : source.triangles) {
      ModelTriangle tri;
      for (int k = 0; k < 3; ++k) {
        if (t[k].vertex >= source.vertexCount) return fail("a triangle names a vertex the model does not have");
        tri.vertex[k] = static_cast<std::int32_t>(t[k].vertex);
        tri.texCoord[k] = static_cast<std::int32_t>(out.texCoords.size());
        ModelVertex st;
        st.s = pixel(t[k].u, image.width), st.t = pixel(t[k].v, image.height);
        out.texCoords.push_back(st);
      }
      out.triangles.push_back(tri);
    }
    // Frames in their animations, as the games' frames are grouped: by the name before its
    // number.
    for (const SourceFrame& f : source.frames) {
      if (f.positions.size() != source.vertexCount * 3) return fail("a frame lacks positions");
      ModelFrame frame;
      frame.name = f.name;
      frame.vertices.resize(source.vertexCount);
      for (std::size_t v = 0; v < source.vertexCount; ++v)
        frame.vertices[v].x = f.positions[v * 3], frame.vertices[v].y = f.positions[v * 3 + 1],
        frame.vertices[v].z = f.positions[v * 3 + 2];
      const std::string animation = MdlAnimationName(f.name);
      if (out.animations.empty() || out.animations.back().name != animation) {
        out.animations.emplace_back();
        out.animations.back().name = animation;
      }
      out.animations.back().frames.push_back(std::move(frame));
    }
    out.name = fs::path(path).filename().string();
    out.format = ModelData::kMd2;  // a texture coordinate a corner, as MD2 keeps them
    out.readAs = read.format;
    out.vertexCount = static_cast<int>(std::min<std::size_t>(source.vertexCount, INT32_MAX));
    return true;
  } catch (const std::bad_alloc&) {
    return fail("the model is too large to read");
  }
}

bool ReadModelForView(std::span<const std::uint8_t> bytes, const std::string& path, const FindBytes& find,
                      ModelData& out, std::string* error) {
  out = ModelData{};
  ModelReadRequest request;
  request.path = path;
  request.inArchive = true;
  request.fps = 10;
  ReadModel read;
  try {
    request.bytes.assign(bytes.begin(), bytes.end());
    if (!RunModelReader(request, find, read, error)) return false;
  } catch (const std::bad_alloc&) {
    if (error) *error = "the model is too large to read";
    return false;
  }
  return ModelForView(std::move(read), path, out, error);
}

}  // namespace tarn
