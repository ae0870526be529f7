// Domain names inside the codec: reading them off the wire and printing them
// as presentation text. (Caller text becomes wire form in query.cpp.)
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "codec/vbdns.h"
#include "codec/wire_reader.h"

namespace vbDNS::detail {

// RFC 9267 section 2 asks for a bound on pointer chains; with pointers that only
// go backwards a chain ends anyway, this keeps its cost small.
inline constexpr int MAX_POINTER_JUMPS = 128;
inline constexpr std::uint8_t POINTER_BITS = 0xC0;

// What a walk does at a compression pointer, as its caller decides: follow
// it, end the walk there with the name taken (the rest is a name the caller
// already checked), or refuse the name.
enum class AtPointer : std::uint8_t { Follow, Accept, Refuse };

// How far a walk has come: the wire length counted so far (the terminating
// zero included from the start) and the pointers followed, this one included
// when a pointer is being judged.
struct WalkState {
  std::size_t WireLength = 1;
  int Jumps = 0;
};

// The one walk over a name at the reader's position (RFC 1035 section 4.1.4
// with the RFC 9267 checks): each label goes to onLabel, which returns false
// to refuse it; each pointer, once checked, to onPointer(target, state). The
// reader ends up after the name's own octets: its labels up to the
// terminating zero or the first pointer. A forward or self pointer, more than
// MAX_POINTER_JUMPS pointers, a reserved label type, a name over 255 octets,
// one running off the reader, or a refusal: false, and the reader failed.
template <class OnLabel, class OnPointer>
bool WalkName(WireReader& in, OnLabel&& onLabel, OnPointer&& onPointer, WalkState& state) {
  WireReader labels = in;
  // A pointer must land before the start of whatever is being read now: the
  // name itself, then each pointer's target. No loop can form.
  std::size_t before = in.Offset();
  bool jumped = false;
  for (;;) {
    const std::uint8_t length = labels.U8();
    if (!labels.Ok()) break;
    if (length == 0) {
      if (!jumped) in = labels;
      return true;
    }
    if ((length & POINTER_BITS) == POINTER_BITS) {
      const std::size_t target = static_cast<std::size_t>(length & 0x3F) << 8 | labels.U8();
      if (!labels.Ok() || target >= before || ++state.Jumps > MAX_POINTER_JUMPS) break;
      if (!jumped) in = labels;
      const AtPointer step = onPointer(target, static_cast<const WalkState&>(state));
      if (step == AtPointer::Accept) return true;
      if (step == AtPointer::Refuse) break;
      jumped = true;
      before = target;
      labels = in.At(target);
      continue;
    }
    if (length > MAX_LABEL) break;  // 0x40..0xBF: reserved label types
    state.WireLength += 1 + length;
    if (state.WireLength > MAX_NAME_WIRE) break;
    const PacketView label = labels.Bytes(length);
    if (!labels.Ok()) break;
    if (!onLabel(label)) break;
  }
  in.Fail();
  return false;
}

// The walk following every pointer.
template <class OnLabel>
bool WalkName(WireReader& in, OnLabel&& onLabel) {
  WalkState state;
  return WalkName(in, onLabel, [](std::size_t, const WalkState&) { return AtPointer::Follow; }, state);
}

// Reads the name at the reader's position into `wire`, uncompressed; on a
// bad name the reader fails and `wire` holds no meaningful value.
void ReadName(WireReader& in, WireName& wire);

// The checks of ReadName alone, leaving the reader after the name.
void SkipName(WireReader& in);

// Whether two wire-form names are equal, ASCII letters compared without case
// (RFC 4343).
bool SameWireName(const WireName& a, const WireName& b);

// Presentation text of the name at the reader's position (RFC 1035 section
// 5.1), appended to `out`, in the style given (NameStyle, vbdns.h). The one
// table of label escapes is behind it. False, the reader failed and `out`
// unchanged, on a bad name.
bool AppendNameText(std::string& out, WireReader& in, NameStyle style);

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
// SkipName accepts are accepted: the same walk, stopped early at a pointer to
// a name already checked.
void CheckName(WireReader& in, KnownNames& known);

}  // namespace vbDNS::detail
