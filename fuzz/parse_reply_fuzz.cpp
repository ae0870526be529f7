// Feeds arbitrary datagrams to the reply parser and the reply matcher, and
// checks what a successful parse promises its callers.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "vbdns.h"

namespace {

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Escaped presentation text: printable ASCII only, and no longer than the
// 255-octet wire form could print (at most four characters per octet).
void RequireNameText(std::string_view text) {
  Require(text.size() <= 4 * vbDNS::MAX_NAME_WIRE, "name text length");
  for (const char c : text) Require(c >= 0x21 && c <= 0x7E, "name text printable");
}

void CheckReply(std::uint16_t queryType, vbDNS::PacketView packet) {
  const auto reply = vbDNS::ParseReply(queryType, packet);
  if (!reply) return;
  const vbDNS::DNSHeader& header = reply->Header;
  Require(packet.size() >= vbDNS::HEADER_SIZE, "header present");
  Require(header.QDCount <= 1, "at most one question");
  RequireNameText(reply->Question.QName);
  RequireNameText(reply->Answer.AName);
  const vbDNS::DNSReply copy = *reply;
  Require(copy == *reply, "a copy equals its source");
  if (header.ANCount == 0) Require(reply->Answer == vbDNS::DNSAnswer{}, "no answer, empty answer fields");
  if (queryType == vbDNS::TYPE_A) {
    Require(reply->Answer.RData.size() % 4 == 0, "addresses come in 4 octets");
    Require(reply->Answer.RData.size() / 4 <= header.ANCount, "one address per answer at most");
  } else {
    RequireNameText(reply->Answer.RData);
  }

  // A question parsed as plain text must match itself when asked as a query.
  const std::string_view qname = reply->Question.QName;
  if (header.QDCount == 1 && (header.Flags1 & vbDNS::FLAG_QR) != 0 && qname.find('\\') == std::string_view::npos) {
    auto sent = vbDNS::BuildQuery(vbDNS::TYPE_A, qname);
    if (sent) {
      sent->Question.QType = reply->Question.QType;
      sent->Question.QClass = reply->Question.QClass;
      Require(vbDNS::ReplyMatchesQuery(packet, header.ID, sent->Question), "reply matches its own question");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vbDNS::PacketView packet(data, size);
  CheckReply(vbDNS::TYPE_A, packet);
  CheckReply(vbDNS::TYPE_PTR, packet);

  const auto sent = vbDNS::BuildQuery(vbDNS::TYPE_A, "ab.cd");
  const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>(data[0] << 8 | data[1]) : 0;
  if (vbDNS::ReplyMatchesQuery(packet, id, sent->Question)) {
    Require(size >= vbDNS::HEADER_SIZE && (data[2] & vbDNS::FLAG_QR) != 0, "match needs a response header");
  }
  return 0;
}
