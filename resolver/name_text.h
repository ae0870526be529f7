// A name as administrators type it, made into the wire name asked, free of
// Windows: presentation text as dig reads it (RFC 1035 section 5.1 escapes,
// an optional final dot), white space around it trimmed, the reverse name of
// an address for PTR, and the search list's suffixes after a single label.
// hosting/resolver_object.cpp passes IDNA in as a function of one label.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/vbdns.h"
#include "resolver/status.h"

namespace vavizav::resolver {

// White space a spreadsheet cell or a line read from a file carries around a
// name: space, tab, CR, LF and no-break space (U+00A0).
bool IsNameSpace(char16_t c) noexcept;

// `text` without the white space around it.
std::u16string_view TrimmedName(std::u16string_view text) noexcept;

// IDNA of one label without escapes holding a character outside ASCII: its
// ASCII octets (the xn-- form), nullopt when IDNA refuses it.
using LabelToAscii = std::function<std::optional<std::string>(std::u16string_view)>;

// Why a name's text makes no wire name.
enum class NameTextProblem : std::uint8_t {
  None,
  Character,      // a character no label holds unescaped: a space or a control character
  Escape,         // "\" at the end, or "\DDD" not three digits of at most 255
  NotAnAddress,   // for PTR: looks like an address (digits and dots, or an IPv6 form) but is none
  CannotBeAsked,  // empty, an empty label, a label over 63 octets, over 255 in all, refused by IDNA
};

struct NameText {
  std::string Wire;           // the wire form (labels and the final zero); "" when Problem is set
  bool SingleLabel = false;   // one label without a final dot: the search list applies
  NameTextProblem Problem = NameTextProblem::None;
  char16_t Character = 0;     // for Character and Escape: the character at fault
  std::size_t Position = 0;   // and its position in the text as given, from 1
};

// The wire name of `text`, a name's presentation text with white space
// around it. Labels are separated by unescaped "." (and the ideographic full
// stops IDNA takes as dots); "\." and "\\" stand for the character, "\DDD"
// for the octet of that decimal value. A label with an escape is its octets
// as written (any character outside ASCII as UTF-8); one without escapes and
// with characters outside ASCII goes through `idna`; ASCII is kept as typed.
// "." alone is the root.
NameText NameFromText(std::u16string_view text, const LabelToAscii& idna);

// For PTR (RFC 1035 section 3.5, RFC 3596 section 2.5): the reverse name of
// `text` (white space around it allowed) when it is a dotted quad or an IPv6
// address, Problem NotAnAddress when it looks like an address and is none
// ("999.1.1.1", "1.2.3", "fe80::1%12"), nullopt for any other text, which is
// asked as the name it is. A final dot makes the text a name.
std::optional<NameText> ReverseNameFromText(std::u16string_view text);

// The suffixes of a search list: entries separated by spaces or commas,
// each a name's text (a final dot or none). Entries that make no name are left
// out, as are duplicates; the root is no suffix.
std::vector<std::string> SearchSuffixes(std::u16string_view list, const LabelToAscii& idna);

// The names one text asks, in turn: `name` with each suffix appended when it
// is a single label and there are suffixes (those too long left out; the name
// alone when none fits), `name` alone otherwise.
std::vector<std::string> NamesToAsk(const NameText& name, const std::vector<std::string>& suffixes);

// Whether the next name of NamesToAsk is asked after an answer with
// `status`: after NXDOMAIN only, as the Windows resolver goes on (any other
// answer, an error or a time-out included, is the answer).
bool AsksNextSuffixAfter(AnswerStatus status) noexcept;

// The question of wire name `wire` (as NameFromText makes it) and `type`:
// class IN, RD set, ID QUERY_ID, as BuildQuestion makes them; with an OPT
// record offering EDNS_UDP_SIZE and AD set, as every Resolver question goes.
vbDNS::DNSQuery QuestionForWire(std::string_view wire, std::uint16_t type);

// LastError's text for a name's problem; `given` is the caller's text.
std::u16string NameProblemText(const NameText& name, std::u16string_view given);

}  // namespace vavizav::resolver
