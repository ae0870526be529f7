// The letter case of question names on the wire (DNS 0x20): random case out,
// and the key under which questions that differ only in case are one
// question. (Checking the echo and putting the caller's spelling back are the
// codec's: vbDNS::CheckReply, vbDNS::RespellReply.)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "codec/vbdns.h"

namespace vavizav::exchange {

// Fills its octets from an unpredictable source; false when the source fails.
using RandomSource = bool (*)(std::span<std::uint8_t> octets);

// Unpredictable bits and numbers drawn from a source a block at a time, so
// that a batch pays one source call per few hundred queries.
class RandomPool {
 public:
  explicit RandomPool(RandomSource source) : source_(source) {}
  // nullopt when the source fails.
  std::optional<std::uint16_t> Next16();
  std::optional<bool> NextBit();

 private:
  bool Refill();
  static constexpr std::size_t FIRST_BLOCK = 32;
  RandomSource source_;
  std::array<std::uint8_t, 256> block_{};
  unsigned refills_ = 0;
  std::size_t used_ = 256;
  std::uint16_t bits_ = 0;
  int bitsLeft_ = 0;
};

// `name` (wire form) with every ASCII letter in random case; the length
// octets stay as they are. nullopt when the generator fails.
std::optional<vbDNS::WireName> MixCase(const vbDNS::WireName& name, RandomPool& random);

// The question with its name in lower case, type and class: equal for
// questions that are one question.
std::string QuestionKey(const vbDNS::DNSQuestion& question);

}  // namespace vavizav::exchange
