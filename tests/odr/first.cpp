// One of two units that define tarn::Twice differently: the link of the release build must
// refuse them (see TARN_ODR_CHECK), as it would two real types that happen to share a name.
#include <string>

namespace tarn {
struct Twice {
  int kind = 1;
  std::string format;
};
}  // namespace tarn

tarn::Twice MakeFirst() { return {}; }
