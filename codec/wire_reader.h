// Bounded reader over one DNS message. Every read checks the octets left; the
// first failure sticks, reads after it return zeros, and callers test Ok() once
// per header, question or record instead of after every field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/vbdns.h"

namespace vbDNS::detail {

class WireReader {
 public:
  explicit WireReader(PacketView message) : message_(message), end_(message.size()) {}

  bool Ok() const { return ok_; }
  void Fail() { ok_ = false; }
  std::size_t Offset() const { return pos_; }
  // Octets left before the reader's end; 0 once it failed.
  std::size_t Left() const { return ok_ ? end_ - pos_ : 0; }

  std::uint8_t U8() {
    if (!Need(1)) return 0;
    return message_[pos_++];
  }

  // The next N octets as one group of fixed fields (a header, a record's type
  // to RDLength), with one check for all of them; zeros when fewer are left.
  // Their fields are read with Get16 and Get32 below.
  template <std::size_t N>
  std::array<std::uint8_t, N> Fixed() {
    std::array<std::uint8_t, N> octets{};
    if (Need(N)) {
      std::memcpy(octets.data(), message_.data() + pos_, N);
      pos_ += N;
    }
    return octets;
  }

  void Skip(std::size_t n) { Bytes(n); }

  // The next n octets; empty, and the reader failed, when fewer are left.
  PacketView Bytes(std::size_t n) {
    if (!Need(n)) return {};
    const PacketView bytes = message_.subspan(pos_, n);
    pos_ += n;
    return bytes;
  }

  // The next two octets as a 16-bit field, left unread; 0 when fewer are left.
  std::uint16_t Peek16() const {
    if (!ok_ || end_ - pos_ < 2) return 0;
    return static_cast<std::uint16_t>(message_[pos_] << 8 | message_[pos_ + 1]);
  }

  // Whether the next two octets are a compression pointer to `offset`.
  bool NextIsPointerTo(std::size_t offset) const {
    return ok_ && end_ - pos_ >= 2 && message_[pos_] == (0xC0 | offset >> 8) && message_[pos_ + 1] == (offset & 0xFF);
  }

  // A reader limited to the next n octets, which this one then skips. It keeps
  // the whole message, so compression pointers inside it still resolve.
  WireReader Sub(std::size_t n) {
    WireReader sub = *this;
    if (!Need(n)) {
      sub.Fail();
      return sub;
    }
    sub.end_ = pos_ + n;
    pos_ += n;
    return sub;
  }

  // A reader at an absolute message offset, bounded by the end of the message:
  // where a compression pointer leads.
  WireReader At(std::size_t offset) const {
    WireReader target(message_);
    if (offset > message_.size()) target.Fail();
    else target.pos_ = offset;
    return target;
  }

 private:
  bool Need(std::size_t n) {
    if (ok_ && n <= end_ - pos_) return true;
    ok_ = false;
    return false;
  }

  PacketView message_;
  std::size_t pos_ = 0;
  std::size_t end_;
  bool ok_ = true;
};

// Big-endian fields of a Fixed group, their offsets checked when compiled.
template <std::size_t At, std::size_t N>
constexpr std::uint16_t Get16(const std::array<std::uint8_t, N>& octets) {
  static_assert(At + 2 <= N);
  return static_cast<std::uint16_t>(octets[At] << 8 | octets[At + 1]);
}
template <std::size_t At, std::size_t N>
constexpr std::uint32_t Get32(const std::array<std::uint8_t, N>& octets) {
  return static_cast<std::uint32_t>(Get16<At>(octets)) << 16 | Get16<At + 2>(octets);
}

// The 12-octet header (RFC 1035 section 4.1.1) as one fixed group.
inline DNSHeader ReadHeader(WireReader& in) {
  const std::array<std::uint8_t, HEADER_SIZE> octets = in.Fixed<HEADER_SIZE>();
  DNSHeader header;
  header.ID = Get16<0>(octets);
  header.Flags1 = octets[2];
  header.Flags2 = octets[3];
  header.QDCount = Get16<4>(octets);
  header.ANCount = Get16<6>(octets);
  header.NSCount = Get16<8>(octets);
  header.ARCount = Get16<10>(octets);
  return header;
}

}  // namespace vbDNS::detail
