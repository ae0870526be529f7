// What the exchange needs to know of a reply, read once by the codec: whether
// it answers the query that went out (ID, QR, the question), how the name came
// back, TC, RCODE and the counts; the caller's spelling put back into it; and
// the two-octet length of DNS over TCP (RFC 7766 section 8), both ways. The
// exchange itself never indexes a reply's octets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "codec/vbdns.h"

namespace vbDNS {

// How a reply's question repeats the name that was sent.
enum class NameEcho : std::uint8_t {
  Exact,   // octet for octet
  Folded,  // the same name only without regard to ASCII case (RFC 4343)
  Absent,  // no question section
};

enum class ReplyFit : std::uint8_t {
  Matches,     // the ID, QR set, and a question equal to the sent one (or none)
  Mismatch,    // readable up to the end of its question, but not this query's reply
  Unreadable,  // cut short before the end of its header or of its one question
};

struct ReplyCheck {
  ReplyFit Fit = ReplyFit::Unreadable;
  NameEcho Echo = NameEcho::Absent;  // meaningful when Fit is Matches
  bool Truncated = false;            // TC
  std::uint8_t RCode = 0;            // the header's four RCODE bits
  DNSHeader Header;                  // the counts among it
};

// Whether a reply carries an OPT record (RFC 6891): what tells a server that
// knows EDNS from one that does not. Walks the sections without reading any
// record's data; Unreadable when a name or a record runs off the end.
enum class OptPresence : std::uint8_t { Present, Absent, Unreadable };
OptPresence ReplyOpt(PacketView reply) noexcept;

// The ID of a datagram: nullopt when it is shorter than two octets.
std::optional<std::uint16_t> ReplyId(PacketView datagram) noexcept;

// Checks `reply` against the query that went out with `id` and `sent` (its
// name as it went on the wire) in one pass over the header and the question
// (RFC 5452 section 9). A question name must be plain labels: a compression
// pointer at the first name of a message can only lead into the header.
// A reply with QDCount above 1 is a Mismatch. Allocates nothing.
ReplyCheck CheckReply(PacketView reply, std::uint16_t id, const DNSQuestion& sent) noexcept;

// Puts the caller's spelling back into a reply to a question that went out
// as `sent` (the same name as `spelling` without regard to case): the
// question's name when it equals `spelling` without regard to case, and, in
// every owner name and every CNAME and DNAME target, leading labels that
// repeat the sent ones octet for octet (a name synthesized from a DNAME keeps
// the labels of the question it was made for, RFC 6672 section 2.2). Names a
// server spelt its own way stay as they are. Every length and offset stays;
// a reply that cannot be walked keeps what was already respelt.
void RespellReply(Packet& reply, const WireName& sent, const WireName& spelling) noexcept;

// The query behind its two-octet length, as it goes over TCP: returns the
// octets written (2 + the datagram), 0 when `out` is too short.
using StreamQuery = std::array<std::uint8_t, 2 + MAX_QUERY_SIZE + OPT_RECORD_SIZE>;
std::size_t EncodeStreamQuery(const DNSQuery& query, std::uint16_t id, std::span<std::uint8_t> out) noexcept;

// One DNS message read off a TCP stream: the two-octet length, then that many
// octets. Feed it what the stream gives, in order.
class StreamMessage {
 public:
  // Takes what it needs of `octets` and returns how many it took: nothing
  // once the message is whole or the length was refused.
  std::size_t Feed(PacketView octets);
  bool Complete() const noexcept { return state_ == State::Complete; }
  // The length announced is below a header's size: no message can follow.
  bool Refused() const noexcept { return state_ == State::Refused; }
  // The message once Complete.
  const Packet& Message() const noexcept { return message_; }
  Packet TakeMessage() noexcept { return std::move(message_); }

 private:
  enum class State : std::uint8_t { Length, Body, Complete, Refused };
  State state_ = State::Length;
  std::array<std::uint8_t, 2> length_{};
  std::size_t have_ = 0;  // octets of the length (State::Length) or of the body
  std::size_t wanted_ = 0;
  Packet message_;
};

}  // namespace vbDNS
