// Bounds-checked little-endian reading and writing of byte buffers.
// Every parser in Tarn reads through ByteReader: a read past the end throws ParseError,
// which the parser's public entry point turns into a failure result.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tarn {

// An allocator whose resize leaves new elements uninitialised: for buffers a read fills at once,
// which need not be zeroed first.
template <typename T>
struct NoInitAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = NoInitAllocator<U>;
  };
  NoInitAllocator() = default;
  template <typename U>
  NoInitAllocator(const NoInitAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <typename U, typename... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using ReadBuffer = std::vector<std::uint8_t, NoInitAllocator<std::uint8_t>>;

class ParseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteReader {
 public:
  ByteReader() = default;
  ByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
  explicit ByteReader(std::span<const std::uint8_t> bytes) : ByteReader(bytes.data(), bytes.size()) {}

  std::size_t Size() const { return m_size; }
  std::size_t Position() const { return m_pos; }
  std::size_t Remaining() const { return m_size - m_pos; }
  bool AtEnd() const { return m_pos == m_size; }
  bool CanRead(std::size_t n) const { return n <= Remaining(); }

  void Seek(std::size_t pos) {
    if (pos > m_size) throw ParseError("seek past the end of the data");
    m_pos = pos;
  }
  void Skip(std::size_t n) {
    Require(n);
    m_pos += n;
  }

  std::uint8_t U8() {
    Require(1);
    return m_data[m_pos++];
  }
  std::uint16_t U16() {
    Require(2);
    std::uint16_t v = static_cast<std::uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
    m_pos += 2;
    return v;
  }
  std::uint32_t U32() {
    Require(4);
    std::uint32_t v = static_cast<std::uint32_t>(m_data[m_pos]) | (static_cast<std::uint32_t>(m_data[m_pos + 1]) << 8) |
                      (static_cast<std::uint32_t>(m_data[m_pos + 2]) << 16) |
                      (static_cast<std::uint32_t>(m_data[m_pos + 3]) << 24);
    m_pos += 4;
    return v;
  }
  std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
  std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
  float F32() {
    std::uint32_t bits = U32();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
  }

  std::span<const std::uint8_t> Bytes(std::size_t n) {
    Require(n);
    std::span<const std::uint8_t> s(m_data + m_pos, n);
    m_pos += n;
    return s;
  }

  // A fixed-width text field: the bytes up to the first NUL, or the whole field.
  std::string FixedString(std::size_t width, bool* terminated = nullptr) {
    auto field = Bytes(width);
    const void* nul = std::memchr(field.data(), 0, field.size());
    std::size_t len =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - field.data()) : field.size();
    if (terminated) *terminated = nul != nullptr;
    return std::string(reinterpret_cast<const char*>(field.data()), len);
  }

  // A reader over [offset, offset + length) of this one's data; throws when it does not fit.
  ByteReader Sub(std::size_t offset, std::size_t length) const {
    if (offset > m_size || length > m_size - offset) throw ParseError("section lies outside the data");
    return ByteReader(m_data + offset, length);
  }

  const std::uint8_t* Data() const { return m_data; }

 private:
  void Require(std::size_t n) const {
    if (n > Remaining()) throw ParseError("unexpected end of data");
  }

  const std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_pos = 0;
};

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<std::uint8_t>& out) : m_out(out) {}

  void U8(std::uint8_t v) { m_out.push_back(v); }
  void U16(std::uint16_t v) {
    m_out.push_back(static_cast<std::uint8_t>(v));
    m_out.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) m_out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void Bytes(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    m_out.insert(m_out.end(), p, p + n);
  }
  void Zeros(std::size_t n) { m_out.insert(m_out.end(), n, 0); }
  std::size_t Size() const { return m_out.size(); }
  void Truncate(std::size_t size) { m_out.resize(std::min(size, m_out.size())); }
  void PatchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) m_out.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
  }

 private:
  std::vector<std::uint8_t>& m_out;
};

inline void StoreU32(std::uint8_t* dst, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) dst[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace tarn
