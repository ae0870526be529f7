// Domain names inside the codec: reading them off the wire and printing them
// as presentation text. (Caller text becomes wire form in query.cpp.)
#pragma once

#include <string_view>

#include "vbdns.h"
#include "wire_reader.h"

namespace vbDNS::detail {

// RFC 9267 section 2 asks for a bound on pointer chains; with pointers that only
// go backwards a chain ends anyway, this keeps its cost small.
inline constexpr int MAX_POINTER_JUMPS = 128;
inline constexpr std::uint8_t POINTER_BITS = 0xC0;

// Walks the name at the reader's position (the rules of ReadName), handing
// each label to onLabel, which returns false to refuse it. False, and the
// reader failed, on a bad name or a refused label.
template <class OnLabel>
bool WalkName(WireReader& in, OnLabel&& onLabel) {
  WireReader labels = in;
  // A pointer must land before the start of whatever is being read now: the
  // name itself, then each pointer's target. No loop can form.
  std::size_t before = in.Offset();
  bool jumped = false;
  int jumps = 0;
  std::size_t wireLength = 1;  // the terminating zero
  for (;;) {
    const std::uint8_t length = labels.U8();
    if (!labels.Ok()) break;
    if (length == 0) {
      if (!jumped) in = labels;
      return true;
    }
    if ((length & POINTER_BITS) == POINTER_BITS) {
      const std::size_t target = static_cast<std::size_t>(length & 0x3F) << 8 | labels.U8();
      if (!labels.Ok() || target >= before || ++jumps > MAX_POINTER_JUMPS) break;
      if (!jumped) in = labels;
      jumped = true;
      before = target;
      labels = in.At(target);
      continue;
    }
    if (length > MAX_LABEL) break;  // 0x40..0xBF: reserved label types
    wireLength += 1 + length;
    if (wireLength > MAX_NAME_WIRE) break;
    const PacketView label = labels.Bytes(length);
    if (!labels.Ok()) break;
    if (!onLabel(label)) break;
  }
  in.Fail();
  return false;
}

// Reads the name at the reader's position (RFC 1035 section 4.1.4) into `wire`,
// uncompressed. The reader ends up after the name's own octets: its labels up
// to the terminating zero or the first pointer. A forward or self pointer, more
// than MAX_POINTER_JUMPS pointers, a reserved label type, a name over 255
// octets or one running off the message fails the reader; `wire` then holds
// no meaningful value.
void ReadName(WireReader& in, WireName& wire);

// The same checks, writing the name's presentation text (RFC 1035 section 5.1)
// instead of its wire form; on failure `text` is left empty.
void ReadNameText(WireReader& in, NameText& text);
void ReadNameText(WireReader& in, AnswerData& text);

// The checks of ReadName alone, leaving the reader after the name.
void SkipName(WireReader& in);

// Whether two wire-form names are equal, ASCII letters compared without case
// (RFC 4343).
bool SameWireName(const WireName& a, const WireName& b);

// Names a whole-message read has already checked, by where they start: a
// pointer to one of them is checked by its length and pointer count alone,
// instead of by walking the same labels again (a reply's owners mostly point
// at the question's name or a name in an earlier record). A small ring: a miss
// only costs the walk.
class KnownNames {
 public:
  struct Entry {
    std::uint16_t Offset;
    std::uint16_t WireLength;  // including the terminating zero
    std::uint16_t Jumps;       // pointers followed from Offset on
  };
  const Entry* Find(std::size_t offset) const {
    for (std::size_t i = 0; i < size_; ++i) {
      if (entries_[i].Offset == offset) return &entries_[i];
    }
    return nullptr;
  }
  void Add(std::size_t offset, std::size_t wireLength, int jumps) {
    entries_[next_] = {static_cast<std::uint16_t>(offset), static_cast<std::uint16_t>(wireLength),
                       static_cast<std::uint16_t>(jumps)};
    next_ = (next_ + 1) % CAPACITY;
    if (size_ < CAPACITY) ++size_;
  }

 private:
  static constexpr std::size_t CAPACITY = 16;
  Entry entries_[CAPACITY];
  std::size_t size_ = 0, next_ = 0;
};

// The checks of SkipName, with the help and the upkeep of `known`: the
// reader ends up after the name's own octets, or failed. Exactly the names
// SkipName accepts are accepted.
void CheckName(WireReader& in, KnownNames& known);

}  // namespace vbDNS::detail
