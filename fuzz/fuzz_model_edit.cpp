// A Quake or Quake II model of any shape, edited in place by an edit the input chooses (its
// first bytes), with bytes cut from the model itself: refused, or the edited model reads again
// and the edit's undo gives back the input byte for byte.
#include <cstdlib>

#include "FuzzInput.h"
#include "models/ModelEdit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tarn::fuzz::Input in{data, std::min<std::size_t>(size, 12)};
  const std::span<const std::uint8_t> model(data + std::min<std::size_t>(size, 12),
                                            size - std::min<std::size_t>(size, 12));
  tarn::ModelEdit edit;
  edit.kind = static_cast<tarn::ModelEdit::Kind>(in.Byte() % 13);
  edit.index = static_cast<std::int8_t>(in.Byte());
  edit.member = static_cast<std::int8_t>(in.Byte());
  edit.to = static_cast<std::int8_t>(in.Byte());
  edit.count = static_cast<std::int8_t>(in.Byte());
  edit.value = static_cast<std::int32_t>(in.U16());
  const std::uint8_t source = in.Byte();
  const std::size_t length = in.U16(), from = in.Byte();
  // The edit's bytes: a piece of the model as it reads, or bytes of it at random.
  tarn::ModelLayout layout;
  const bool reads = tarn::ReadModelLayout(model, layout, nullptr);
  const auto& pieces = source & 1 ? layout.skins : layout.frames;
  if (reads && (source & 2) && !pieces.empty()) {
    const auto& p = pieces[from % pieces.size()];
    edit.bytes.assign(model.begin() + static_cast<std::ptrdiff_t>(p.at),
                      model.begin() + static_cast<std::ptrdiff_t>(p.end));
  } else if (from <= model.size()) {
    const std::size_t n = std::min(length, model.size() - from);
    edit.bytes.assign(model.begin() + static_cast<std::ptrdiff_t>(from),
                      model.begin() + static_cast<std::ptrdiff_t>(from + n));
  }
  std::vector<std::uint8_t> out = {7}, back;
  tarn::ModelEdit undo;
  if (!tarn::ApplyModelEdit(model, edit, out, &undo, nullptr)) {
    if (out != std::vector<std::uint8_t>{7}) std::abort();
    return 0;
  }
  if (!reads) std::abort();
  tarn::ModelLayout after;
  if (!tarn::ReadModelLayout(out, after, nullptr) || after.format != layout.format) std::abort();
  if (!tarn::ApplyModelEdit(out, undo, back, nullptr, nullptr)) std::abort();
  if (!std::equal(back.begin(), back.end(), model.begin(), model.end())) std::abort();
  return 0;
}
