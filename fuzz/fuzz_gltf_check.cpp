// Bytes of any shape checked as a glTF (the first byte: JSON or binary) before Assimp would see
// them: the check answers without running out of stack or memory, and what it passes keeps
// within the limits it names.
#include <cstdlib>

#include "models/ModelFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  tarn::GltfFacts facts;
  const std::string why = tarn::GltfProblem(bytes, data[0] & 1, &facts);
  if (why.empty() && (facts.nodes > tarn::kGltfMaxNodes || facts.depth > tarn::kGltfMaxNodeDepth ||
                      facts.triangles > tarn::kMaxInstancedTriangles))
    std::abort();
  for (const std::string& file : facts.files)
    if (tarn::PathInsideFolder(file).empty()) std::abort();
  (void)tarn::SniffModelFile(bytes);
  return 0;
}
