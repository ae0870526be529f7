#include "exchange/core/name_case.h"

namespace vavizav::exchange {
namespace {

constexpr std::uint8_t ASCII_CASE_BIT = 0x20;

bool IsLetter(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
std::uint8_t Lower(std::uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c | ASCII_CASE_BIT) : c; }

}  // namespace

// The first block is small (a lone question needs a few octets), later ones
// whole.
bool RandomPool::Refill() {
  const std::size_t size = refills_++ == 0 ? FIRST_BLOCK : block_.size();
  if (!source_(std::span(block_).last(size))) return false;
  used_ = block_.size() - size;
  return true;
}

std::optional<std::uint16_t> RandomPool::Next16() {
  if (used_ + 2 > block_.size() && !Refill()) return std::nullopt;
  const std::uint16_t value = static_cast<std::uint16_t>(block_[used_] << 8 | block_[used_ + 1]);
  used_ += 2;
  return value;
}

std::optional<bool> RandomPool::NextBit() {
  if (bitsLeft_ == 0) {
    const std::optional<std::uint16_t> bits = Next16();
    if (!bits) return std::nullopt;
    bits_ = *bits;
    bitsLeft_ = 16;
  }
  const bool bit = bits_ & 1;
  bits_ = static_cast<std::uint16_t>(bits_ >> 1);
  --bitsLeft_;
  return bit;
}

std::optional<vbDNS::WireName> MixCase(const vbDNS::WireName& name, RandomPool& random) {
  vbDNS::WireName mixed(name);
  char* octets = mixed.data();
  const std::size_t size = mixed.size();
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = static_cast<std::uint8_t>(octets[at]);
    if (length == 0) break;
    for (std::size_t i = at + 1; i <= at + length && i < size; ++i) {
      const auto c = static_cast<std::uint8_t>(octets[i]);
      if (!IsLetter(c)) continue;
      const std::optional<bool> upper = random.NextBit();
      if (!upper) return std::nullopt;
      octets[i] = static_cast<char>(*upper ? c & ~ASCII_CASE_BIT : c | ASCII_CASE_BIT);
    }
    at += 1 + length;
  }
  return mixed;
}

std::string QuestionKey(const vbDNS::DNSQuestion& question) {
  std::string key(question.QName.view());
  for (char& c : key) c = static_cast<char>(Lower(static_cast<std::uint8_t>(c)));
  key.push_back(static_cast<char>(question.QType >> 8));
  key.push_back(static_cast<char>(question.QType & 0xFF));
  key.push_back(static_cast<char>(question.QClass >> 8));
  key.push_back(static_cast<char>(question.QClass & 0xFF));
  return key;
}

}  // namespace vavizav::exchange
