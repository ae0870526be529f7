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

}  // namespace vbDNS::detail
