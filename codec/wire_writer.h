// Bounded writer into a caller's buffer, the mirror of WireReader: every write
// checks the room left; the first failure sticks, later writes change nothing,
// and callers test Ok() once after a group of writes. Fields go out
// big-endian (RFC 1035 section 2.3.2).
//
//   std::array<std::uint8_t, 2 + MAX_QUERY_SIZE> buffer;   // a TCP message
//   vbDNS::WireWriter prefix(buffer);
//   prefix.U16(static_cast<std::uint16_t>(size));           // RFC 7766 length
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace vbDNS {

class WireWriter {
 public:
  explicit WireWriter(std::span<std::uint8_t> out) noexcept : out_(out) {}

  bool Ok() const noexcept { return ok_; }
  void Fail() noexcept { ok_ = false; }
  // Octets written so far.
  std::size_t Offset() const noexcept { return pos_; }
  std::size_t Left() const noexcept { return ok_ ? out_.size() - pos_ : 0; }
  std::span<std::uint8_t> Written() const noexcept { return out_.first(pos_); }

  void U8(std::uint8_t value) noexcept {
    if (Need(1)) out_[pos_++] = value;
  }
  void U16(std::uint16_t value) noexcept {
    if (!Need(2)) return;
    out_[pos_] = static_cast<std::uint8_t>(value >> 8);
    out_[pos_ + 1] = static_cast<std::uint8_t>(value & 0xFF);
    pos_ += 2;
  }
  void U32(std::uint32_t value) noexcept {
    if (!Need(4)) return;
    out_[pos_] = static_cast<std::uint8_t>(value >> 24);
    out_[pos_ + 1] = static_cast<std::uint8_t>(value >> 16 & 0xFF);
    out_[pos_ + 2] = static_cast<std::uint8_t>(value >> 8 & 0xFF);
    out_[pos_ + 3] = static_cast<std::uint8_t>(value & 0xFF);
    pos_ += 4;
  }
  void Bytes(std::span<const std::uint8_t> octets) noexcept {
    if (!Need(octets.size())) return;
    if (!octets.empty()) std::memcpy(out_.data() + pos_, octets.data(), octets.size());
    pos_ += octets.size();
  }
  void Bytes(std::string_view octets) noexcept {
    Bytes(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size()));
  }

 private:
  bool Need(std::size_t n) noexcept {
    if (ok_ && n <= out_.size() - pos_) return true;
    ok_ = false;
    return false;
  }

  std::span<std::uint8_t> out_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// One 16-bit field at the start of `out` (a TCP length prefix, a patched ID);
// false, and nothing written, when `out` holds fewer than 2 octets.
inline bool PutU16(std::span<std::uint8_t> out, std::uint16_t value) noexcept {
  WireWriter writer(out);
  writer.U16(value);
  return writer.Ok();
}

}  // namespace vbDNS
