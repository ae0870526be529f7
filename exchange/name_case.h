// The letter case of question names on the wire (DNS 0x20): random case out,
// the exact octets demanded back, the caller's spelling restored; and the key
// under which questions that differ only in case are one question.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "vbdns.h"

namespace vavizav {

// Unpredictable bits and numbers drawn from the system generator a block at a
// time, so that a batch pays one generator call per few hundred queries.
class RandomPool {
 public:
  // nullopt when the system generator fails.
  std::optional<std::uint16_t> Next16();
  std::optional<bool> NextBit();

 private:
  bool Refill();
  static constexpr std::size_t FIRST_BLOCK = 32;
  std::array<std::uint8_t, 256> block_{};
  unsigned refills_ = 0;
  std::size_t used_ = 256;
  std::uint16_t bits_ = 0;
  int bitsLeft_ = 0;
};

// `name` (wire form) with every ASCII letter in random case; the length
// octets stay as they are. nullopt when the generator fails.
std::optional<vbDNS::WireName> MixCase(const vbDNS::WireName& name, RandomPool& random);

// How a reply's question repeats the name that was sent.
enum class Echo {
  Exact,       // octet for octet
  Folded,      // the same name only without regard to case
  Questionless // no question section
};

// For a datagram that vbDNS::ReplyMatchesQuery accepted for a question named
// `sent`: whether the name came back octet for octet.
Echo QuestionEcho(vbDNS::PacketView reply, const vbDNS::WireName& sent);

// Writes `spelling` over the reply's question name when that name equals it
// without regard to case, so that names compressed to the question read as
// the caller spelt them. Leaves every other reply as it is.
void RespellQuestion(vbDNS::Packet& reply, const vbDNS::WireName& spelling);

// The question with its name in lower case, type and class: equal for
// questions that are one question.
std::string QuestionKey(const vbDNS::DNSQuestion& question);

}  // namespace vavizav
