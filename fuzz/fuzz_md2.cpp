#include "FuzzArchive.h"
#include "FuzzModel.h"

// Skins are looked up among quarters of the input, named a.pcx to d.pcx.
class SliceHost : public tarn::CModelHost {
 public:
  explicit SliceHost(tarn::CPackObject& dir) : m_dir(dir) {}
  tarn::CPackObject* FindSkin(const std::string& path) override { return m_dir.FindChild(path); }

 private:
  tarn::CPackObject& m_dir;
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto root = SliceArchive(data, size, "model.md2", ".pcx");
  SliceHost host(*root->FindChild("dir"));
  tarn::ModelData m;
  if (tarn::LoadModel(*root->FindByPath("dir/model.md2"), m, host)) CheckModel(m);
  return 0;
}
