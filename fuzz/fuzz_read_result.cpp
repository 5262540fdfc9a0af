// Bytes of any shape taken as tarn-import's answer: refused, or a model whose skins all fit and
// which, encoded again, decodes to the same model.
#include <cstdlib>

#include "models/ModelReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::ReadModel model;
  if (!tarn::reader::DecodeResult({data, size}, model)) return 0;
  if (model.moreSkins.size() >= tarn::kMaxReadSkins) std::abort();
  for (const tarn::RgbaImage& skin : model.moreSkins)
    if (skin.rgba.size() != static_cast<std::size_t>(skin.width) * static_cast<std::size_t>(skin.height) * 4)
      std::abort();
  const std::vector<std::uint8_t> again = tarn::reader::EncodeResult(model);
  tarn::ReadModel second;
  if (!tarn::reader::DecodeResult(again, second) || tarn::reader::EncodeResult(second) != again) std::abort();
  return 0;
}
