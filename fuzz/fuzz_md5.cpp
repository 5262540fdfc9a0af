// An MD5 mesh and its animation, split from one input at its first zero byte, read as
// tarn-import reads them: either refused with a reason or every frame holds a finite position
// for each vertex and every triangle names vertices there. The whole input is also read as an
// MD3's .skin file.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>

#include "models/Md3Skins.h"
#include "models/Md5Model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> all(data, size);
  const void* zero = size ? std::memchr(data, 0, size) : nullptr;
  const std::size_t cut = zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - data) : size;
  std::vector<tarn::Md5Animation> anims;
  if (cut < size) anims.push_back({"anim", all.subspan(cut + 1)});
  tarn::Md5Model model;
  std::string why;
  if (!tarn::ReadMd5(all.first(cut), anims, model, &why)) {
    if (why.empty() || !model.source.frames.empty()) std::abort();
  } else {
    const tarn::SourceModel& s = model.source;
    if (s.frames.empty() || s.triangles.empty() || model.shaders.size() != model.meshes) std::abort();
    for (const auto& t : s.triangles)
      for (const tarn::SourceCorner& c : t)
        if (c.vertex >= s.vertexCount) std::abort();
    for (const tarn::SourceFrame& f : s.frames) {
      if (f.positions.size() != s.vertexCount * 3) std::abort();
      for (float p : f.positions)
        if (!std::isfinite(p)) std::abort();
    }
  }
  const tarn::SkinFile skin = tarn::ParseSkinFile(all);
  (void)tarn::SkinPictures(skin, {{"body", 2}, {"head", 1}});
  return 0;
}
