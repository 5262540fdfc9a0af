// The other definition of tarn::Twice (see first.cpp).
namespace tarn {
struct Twice {
  int kind = 2;
  bool found = false;
  short bits = 0;
};
}  // namespace tarn

tarn::Twice MakeSecond() { return {}; }

int main() { return MakeSecond().kind == 2 ? 0 : 1; }
