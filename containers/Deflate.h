// Raw deflate streams (a zip member's compressed bytes) undone piece by piece, and the CRC-32
// zips keep of every member. The compression library is called here and nowhere else, so that
// another can take its place by changing this one unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tarn {

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t n);

// A whole deflate stream inflated at once into exactly n bytes (libdeflate, several times
// faster than piece by piece); false when it is damaged or does not make exactly n bytes, for
// the caller to read it piece by piece and say precisely why.
bool InflateWhole(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t n);

class CInflater {
 public:
  enum class Status { Ok, End, Damaged };
  CInflater();
  ~CInflater();
  CInflater(const CInflater&) = delete;
  CInflater& operator=(const CInflater&) = delete;

  // Takes compressed bytes (they must stay valid until Inflate has consumed them all).
  void Feed(const std::uint8_t* in, std::size_t n);
  bool NeedsInput() const;
  // Up to n bytes into out, in *produced: Ok (more may follow), End (the stream's last byte
  // was produced) or Damaged (not a valid deflate stream).
  Status Inflate(std::uint8_t* out, std::size_t n, std::size_t* produced);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace tarn
