#include "containers/Deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>

namespace tarn {

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t n) {
  return libdeflate_crc32(crc, data, n);
}

bool InflateWhole(const std::uint8_t* in, std::size_t inSize, std::uint8_t* out, std::size_t n) {
  // One decompressor per thread: it holds tables, and reads may run on several threads.
  thread_local std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  std::size_t made = 0;
  return d && libdeflate_deflate_decompress(d.get(), in, inSize, out, n, &made) == LIBDEFLATE_SUCCESS && made == n;
}

struct CInflater::State {
  z_stream z{};
  bool ready = false;
  const std::uint8_t* in = nullptr;
  std::size_t left = 0;
};

CInflater::CInflater() : m_state(std::make_unique<State>()) {
  // Negative window bits: raw deflate, without zlib's header and trailer, as zips store it.
  m_state->ready = ::inflateInit2(&m_state->z, -MAX_WBITS) == Z_OK;
}

CInflater::~CInflater() {
  if (m_state->ready) ::inflateEnd(&m_state->z);
}

void CInflater::Feed(const std::uint8_t* in, std::size_t n) {
  m_state->in = in;
  m_state->left = n;
}

bool CInflater::NeedsInput() const { return m_state->left == 0 && m_state->z.avail_in == 0; }

CInflater::Status CInflater::Inflate(std::uint8_t* out, std::size_t n, std::size_t* produced) {
  *produced = 0;
  State& s = *m_state;
  if (!s.ready) return Status::Damaged;
  z_stream& z = s.z;
  z.next_out = out;
  z.avail_out = static_cast<uInt>(std::min<std::size_t>(n, UINT_MAX));
  for (;;) {
    if (z.avail_in == 0 && s.left > 0) {
      z.next_in = const_cast<Bytef*>(s.in);
      z.avail_in = static_cast<uInt>(std::min<std::size_t>(s.left, UINT_MAX));
      s.in += z.avail_in;
      s.left -= z.avail_in;
    }
    const int r = ::inflate(&z, Z_NO_FLUSH);
    *produced = static_cast<std::size_t>(z.next_out - out);
    if (r == Z_STREAM_END) return Status::End;
    if (r == Z_BUF_ERROR) return Status::Ok;  // no progress possible: more input or more room wanted
    if (r != Z_OK) return Status::Damaged;
    if (z.avail_out == 0 || (z.avail_in == 0 && s.left == 0)) return Status::Ok;
  }
}

}  // namespace tarn
