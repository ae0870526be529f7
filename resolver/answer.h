// The second class's decisions, free of Windows: which question a name and a
// type make, and what a reply means to a script (the Answer it reads).
// hosting/resolver_object.cpp and hosting/answer_objects.cpp turn the model
// into COM objects; tests build replies with the packet builder and judge them
// here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "codec/message.h"
#include "codec/vbdns.h"
#include "resolver/status.h"

namespace vavizav::resolver {

inline constexpr std::uint16_t TYPE_ANY = 255;

// A question type as a script writes it: a mnemonic without regard to case
// ("mx", "TYPE65534") or a decimal number from 1 to 65535 (no sign, no
// blanks). nullopt for anything else, 0 included.
std::optional<std::uint16_t> ParseQuestionType(std::string_view text);

// One record of an answer, owning its texts.
struct RecordModel {
  std::string Name;  // owner, absolute, final dot
  std::uint16_t Type = 0;
  // RFC 2181 section 8: a TTL with the top bit set is read as 0, so it
  // always fits a Long.
  std::uint32_t TTL = 0;
  std::string Data;  // the data column of dig
  vbDNS::RecordFields Fields;
};

struct AnswerModel {
  AnswerStatus Status;        // the RCODE, or how the question ended without one (status.h)
  std::vector<RecordModel> Records;
  std::string CanonicalName;  // end of the CNAME/DNAME chain, final dot; "" without a reply
  // The reply as dig shows it: the AA and RA flags, and every record of the
  // authority and additional sections in reply order (OPT is no record).
  bool Authoritative = false;
  bool RecursionAvailable = false;
  std::vector<RecordModel> Authority;
  std::vector<RecordModel> Additional;
  bool Authenticated = false;  // the reply's AD flag: the resolver says it validated the data
  std::string ExtendedError;   // RFC 8914's errors as text (codec/edns.h); "" for none
};

// A referral (RFC 8499 section 4): NOERROR, no answer records, NS records in
// the authority section, AA clear. The server names where to ask next.
bool IsReferral(const AnswerModel& answer);

// What a reply says about the question `asked` (type and class). Records
// are the answer section's records of that type (of every type for ANY) at
// the end of the chain that CNAME and DNAME records make from the question's
// name, in reply order. A chain is followed as far as the reply goes and
// never through a name twice. MALFORMED when the codec cannot read the reply.
AnswerModel JudgeReply(vbDNS::PacketView reply, const vbDNS::DNSQuery& asked);

// A reply cut short (TC set) that could not be asked again over TCP. Its
// records are whatever fitted, so a NOERROR in it is no verdict: the status is
// TRUNCATED, and Records hold what the cut reply carried. Any other RCODE is
// the server's whole verdict and stands, as does MALFORMED.
AnswerModel JudgeTruncatedReply(vbDNS::PacketView reply, const vbDNS::DNSQuery& asked);

// An answer without a reply: TIMEOUT, NOSERVER, BADNAME or MALFORMED.
AnswerModel AnswerWithoutReply(AnswerStatus status);

// Every record's Data on a line of its own, CR LF between; "" for none.
std::string AnswerText(const AnswerModel& answer);

// TXT's character-strings joined without separator or quotes, as an SPF or
// DMARC check reads them (RFC 7208 section 3.3).
std::string JoinedStrings(const vbDNS::RecordFields& fields);

}  // namespace vavizav::resolver
