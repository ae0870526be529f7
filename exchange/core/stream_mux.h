// Many queries on one encrypted stream (DNS over TLS, RFC 7858; RFC 7766
// section 6.2.1.1): each query framed with its two-octet length, padded to a
// block of 128 octets (the EDNS padding option, RFC 7830 and RFC 8467's
// block-length policy for clients), under an ID no other query in flight on
// the stream has; replies taken by ID in whatever order they come. Portable,
// with no socket and no TLS: the shell feeds what the session decrypted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "codec/reply_check.h"
#include "codec/vbdns.h"
#include "exchange/core/name_case.h"

namespace vavizav::exchange {

// RFC 8467 section 4.1: queries padded to a multiple of 128 octets.
inline constexpr std::size_t PADDING_BLOCK = 128;
inline constexpr std::uint16_t EDNS_OPTION_PADDING = 12;  // RFC 7830
// The option's own code and length, before its zeros.
inline constexpr std::size_t PADDING_OPTION_HEADER = 4;
// A padded query behind its length: the query, its OPT record, the padding
// option and at most a block less one of zeros.
using PaddedStreamQuery =
    std::array<std::uint8_t, 2 + vbDNS::MAX_QUERY_SIZE + vbDNS::OPT_RECORD_SIZE + PADDING_OPTION_HEADER + PADDING_BLOCK>;

// Writes `query` with `id` behind its two-octet length, with an OPT record
// (the query's EdnsUdpSize, or EDNS_UDP_SIZE when it has none: the padding
// travels in it) whose padding option makes the message a multiple of
// PADDING_BLOCK octets. Returns the octets written, 0 when the query cannot
// be encoded.
std::size_t EncodePaddedStreamQuery(const vbDNS::DNSQuery& query, std::uint16_t id, PaddedStreamQuery& out) noexcept;

// The queries in flight on one stream and the reading of its replies.
class StreamMux {
 public:
  // Replies without a query in flight, after which the stream is dropped: a
  // server that answers what nobody asked is not one to keep asking.
  static constexpr unsigned MAX_STRAYS = 16;

  // A fresh random ID for `ticket` (the caller's name for the query), none
  // other in flight on this stream. nullopt when the generator fails, or
  // when MAX_IN_FLIGHT queries are in flight already.
  static constexpr std::size_t MAX_IN_FLIGHT = 4096;
  std::optional<std::uint16_t> Reserve(std::uint32_t ticket, RandomPool& random);
  // The query no longer waits (answered elsewhere, timed out): a reply to it
  // later is a stray.
  void Release(std::uint16_t id);

  struct Reply {
    std::uint32_t Ticket = 0;
    std::uint16_t Id = 0;
    vbDNS::Packet Message;
  };
  // What the stream gave, in order: every reply made whole by it, with the
  // ticket that waited on its ID (its ID released). Replies nobody waits on
  // are counted and dropped.
  std::vector<Reply> Feed(vbDNS::PacketView octets);

  // No more can be read: a length below a header's size came, or too many
  // strays. The caller ends the stream.
  bool Broken() const { return broken_; }
  // The tickets still waiting: when the stream ends, each of them is
  // unanswered on it.
  std::vector<std::uint32_t> Waiting() const;
  std::size_t InFlight() const { return waiting_.size(); }

 private:
  std::unordered_map<std::uint16_t, std::uint32_t> waiting_;  // ID -> ticket
  vbDNS::StreamMessage in_;
  unsigned strays_ = 0;
  bool broken_ = false;
};

}  // namespace vavizav::exchange
