// Domain names inside the codec: reading them off the wire, printing them as
// presentation text, and turning caller text into wire form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vbdns.h"
#include "wire_reader.h"

namespace vbDNS::detail {

// RFC 9267 section 2 asks for a bound on pointer chains; with pointers that only
// go backwards a chain ends anyway, this keeps its cost small.
inline constexpr int MAX_POINTER_JUMPS = 128;

// Reads the name at the reader's position (RFC 1035 section 4.1.4) and returns
// it uncompressed in wire form. The reader ends up after the name's own octets:
// its labels up to the terminating zero or the first pointer. A forward or self
// pointer, more than MAX_POINTER_JUMPS pointers, a reserved label type, a name
// over 255 octets or one running off the message fails the reader.
ByteString ReadName(WireReader& in);

// Presentation text (RFC 1035 section 5.1) of a wire-form name from ReadName.
std::string NameText(std::string_view wire);

// ReadName and NameText in one pass, without the wire-form copy: replaces
// `text` by the name's presentation text (reusing its storage). Same checks;
// on failure the reader fails and `text` holds no meaningful value.
void ReadNameText(WireReader& in, std::string& text);

// The checks of ReadName alone, leaving the reader after the name.
void SkipName(WireReader& in);

// Wire form of dotted text; nullopt for an empty name or label, a label over
// 63 octets or a name over 255 octets. One trailing dot is allowed.
std::optional<ByteString> TextToWireName(std::string_view text);

// Whether two wire-form names are equal, ASCII letters compared without case
// (RFC 4343).
bool SameWireName(std::string_view a, std::string_view b);

// Automation text as octets; nullopt when a character does not fit one octet.
std::optional<std::string> ToOctets(std::u16string_view text);

}  // namespace vbDNS::detail
