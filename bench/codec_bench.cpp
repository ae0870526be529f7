// The codec against two peer libraries, c-ares and ldns, on the same bytes.
//
// Every row times what a caller of that library has to do to get the same
// result: parse and free for replies, build, encode and free for queries.
// Before anything is timed, each library's result on each fixture is checked
// against the expected addresses, names and query octets; a disagreement ends
// the run, so no row ever times an error path.
//
//   codec_bench [--verify-only] [Google Benchmark flags]
//
// Benchmark names are ROW/LIBRARY; bench/codec_table.py turns the JSON output
// into the comparison table. Rows without a library (copy_*) measure what
// copying our records costs and stand outside the comparison.
// ldns/common.h turns bool, true and false into macros unless stdbool.h came first.
#include <stdbool.h>

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <ares.h>
#include <ldns/ldns.h>
#include <netdb.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "message.h"
#include "packets.h"
#include "text.h"
#include "vbdns.h"

namespace {

using vavizav::testing::Hex;

// ---------------------------------------------------------------------------
// Reply fixtures, as a recursive server sends them. Offsets are from the start
// of the message; compression pointers are C0 followed by the offset.

// (1) www.example.com A: one address.
constexpr std::uint8_t kOneA[] = {
    // Header: ID 12345, QR RD / RA NOERROR, QD 1, AN 1, NS 0, AR 0.
    0x30, 0x39, 0x81, 0x80, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    // @12 question: www.example.com (example.com @16), type A, class IN.
    3, 'w', 'w', 'w', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0,
    0x00, 0x01, 0x00, 0x01,
    // @33 answer: ->@12, A, IN, TTL 3600, RDLength 4, 192.0.2.1.
    0xC0, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x0E, 0x10, 0x00, 0x04,
    192, 0, 2, 1,
};

// (2) www.example.com A: a CNAME to cdn.example.com, then four addresses of it.
constexpr std::uint8_t kCnameFourA[] = {
    // Header: ID 12345, QR RD / RA NOERROR, QD 1, AN 5, NS 0, AR 0.
    0x30, 0x39, 0x81, 0x80, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,
    // @12 question: www.example.com (example.com @16), type A, class IN.
    3, 'w', 'w', 'w', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0,
    0x00, 0x01, 0x00, 0x01,
    // @33 answer: ->@12, CNAME, IN, TTL 300, RDLength 6,
    //     @45 cdn + ->@16 (cdn.example.com).
    0xC0, 0x0C, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0x01, 0x2C, 0x00, 0x06,
    3, 'c', 'd', 'n', 0xC0, 0x10,
    // @51, @67, @83, @99 answers: ->@45, A, IN, TTL 60, RDLength 4, 198.51.100.10..13.
    0xC0, 0x2D, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
    198, 51, 100, 10,
    0xC0, 0x2D, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
    198, 51, 100, 11,
    0xC0, 0x2D, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
    198, 51, 100, 12,
    0xC0, 0x2D, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
    198, 51, 100, 13,
};

// (3) 1.2.0.192.in-addr.arpa PTR: the owner compressed, host.example.com.
constexpr std::uint8_t kPtr[] = {
    // Header: ID 12345, QR RD / RA NOERROR, QD 1, AN 1, NS 0, AR 0.
    0x30, 0x39, 0x81, 0x80, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    // @12 question: 1.2.0.192.in-addr.arpa, type PTR, class IN.
    1, '1', 1, '2', 1, '0', 3, '1', '9', '2', 7, 'i', 'n', '-', 'a', 'd', 'd', 'r',
    4, 'a', 'r', 'p', 'a', 0, 0x00, 0x0C, 0x00, 0x01,
    // @40 answer: ->@12, PTR, IN, TTL 86400, RDLength 18, host.example.com.
    0xC0, 0x0C, 0x00, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x51, 0x80, 0x00, 0x12,
    4, 'h', 'o', 's', 't', 7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 3, 'c', 'o', 'm', 0,
};

// What every library must find in them.
const std::vector<std::string> kOneAAddresses = {"192.0.2.1"};
const std::vector<std::string> kCnameFourAAddresses = {"198.51.100.10", "198.51.100.11", "198.51.100.12",
                                                       "198.51.100.13"};
constexpr std::string_view kPtrName = "host.example.com";
constexpr std::uint8_t kPtrAddress[4] = {192, 0, 2, 1};

// The queries: the name a caller hands over, and for the reverse query the
// address text it starts from.
constexpr const char* kQueryName = "www.example.com";
constexpr const char* kReverseText = "192.0.2.1";
constexpr std::uint16_t kQueryId = vbDNS::QUERY_ID;

// ---------------------------------------------------------------------------
// The verification pass.

int g_failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "codec_bench: MISMATCH: %s\n", what.c_str());
    ++g_failures;
  }
}

std::string Dotted(const std::uint8_t* four) {
  char text[INET_ADDRSTRLEN];
  return inet_ntop(AF_INET, four, text, sizeof text) ? text : "?";
}

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : " ") + item;
  return out;
}

void VerifyOurs(const char* fixture, std::span<const std::uint8_t> bytes, std::uint16_t type,
                const std::vector<std::string>& addresses, std::string_view ptrName) {
  const auto reply = vbDNS::ParseReply(type, bytes);
  Check(reply.has_value(), std::string("ours: ParseReply refused ") + fixture);
  if (!reply) return;
  Check(vbDNS::RCodeIsNoError(reply->Header.Flags2), std::string("ours: RCODE of ") + fixture);
  if (type == vbDNS::TYPE_A) {
    std::vector<std::string> got;
    const std::string_view data = reply->Answer.RData.view();
    for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
      got.push_back(Dotted(reinterpret_cast<const std::uint8_t*>(data.data() + i)));
    }
    Check(data.size() % 4 == 0 && got == addresses,
          std::string("ours: addresses of ") + fixture + ": " + Join(got));
  } else {
    Check(reply->Answer.RData == ptrName,
          std::string("ours: PTR name of ") + fixture + ": " + std::string(reply->Answer.RData.view()));
  }
}

void VerifyCaresA(const char* fixture, std::span<const std::uint8_t> bytes,
                  const std::vector<std::string>& addresses) {
  // The timed form: TTL records only.
  ares_addrttl ttls[8];
  int count = 8;
  int status = ares_parse_a_reply(bytes.data(), static_cast<int>(bytes.size()), nullptr, ttls, &count);
  Check(status == ARES_SUCCESS, std::string("c-ares: ares_parse_a_reply on ") + fixture + ": " + ares_strerror(status));
  std::vector<std::string> fromTtls;
  for (int i = 0; status == ARES_SUCCESS && i < count; ++i) {
    fromTtls.push_back(Dotted(reinterpret_cast<const std::uint8_t*>(&ttls[i].ipaddr)));
  }
  Check(fromTtls == addresses, std::string("c-ares: addrttl addresses of ") + fixture + ": " + Join(fromTtls));

  // And with a hostent, the form that also yields the canonical name.
  hostent* host = nullptr;
  status = ares_parse_a_reply(bytes.data(), static_cast<int>(bytes.size()), &host, nullptr, nullptr);
  Check(status == ARES_SUCCESS && host != nullptr,
        std::string("c-ares: ares_parse_a_reply (hostent) on ") + fixture + ": " + ares_strerror(status));
  if (status != ARES_SUCCESS || host == nullptr) return;
  std::vector<std::string> fromHost;
  for (char** entry = host->h_addr_list; *entry != nullptr; ++entry) {
    fromHost.push_back(Dotted(reinterpret_cast<const std::uint8_t*>(*entry)));
  }
  Check(fromHost == addresses, std::string("c-ares: hostent addresses of ") + fixture + ": " + Join(fromHost));
  ares_free_hostent(host);
}

void VerifyCaresPtr(const char* fixture, std::span<const std::uint8_t> bytes, std::string_view ptrName) {
  hostent* host = nullptr;
  const int status = ares_parse_ptr_reply(bytes.data(), static_cast<int>(bytes.size()), kPtrAddress,
                                          sizeof kPtrAddress, AF_INET, &host);
  Check(status == ARES_SUCCESS && host != nullptr,
        std::string("c-ares: ares_parse_ptr_reply on ") + fixture + ": " + ares_strerror(status));
  if (status != ARES_SUCCESS || host == nullptr) return;
  Check(host->h_name != nullptr && host->h_name == ptrName,
        std::string("c-ares: PTR name of ") + fixture + ": " + (host->h_name ? host->h_name : "(null)"));
  ares_free_hostent(host);
}

void VerifyLdns(const char* fixture, std::span<const std::uint8_t> bytes, const std::vector<std::string>& addresses,
                std::string_view ptrName) {
  ldns_pkt* packet = nullptr;
  const ldns_status status = ldns_wire2pkt(&packet, bytes.data(), bytes.size());
  Check(status == LDNS_STATUS_OK && packet != nullptr,
        std::string("ldns: ldns_wire2pkt on ") + fixture + ": " + ldns_get_errorstr_by_id(status));
  if (status != LDNS_STATUS_OK || packet == nullptr) return;
  Check(ldns_pkt_get_rcode(packet) == LDNS_RCODE_NOERROR, std::string("ldns: RCODE of ") + fixture);
  std::vector<std::string> got;
  std::string name;
  const ldns_rr_list* answers = ldns_pkt_answer(packet);
  for (std::size_t i = 0; i < ldns_rr_list_rr_count(answers); ++i) {
    const ldns_rr* rr = ldns_rr_list_rr(answers, i);
    const ldns_rdf* data = ldns_rr_rdf(rr, 0);
    if (ldns_rr_get_type(rr) == LDNS_RR_TYPE_A && ldns_rdf_size(data) == 4) {
      got.push_back(Dotted(ldns_rdf_data(data)));
    } else if (ldns_rr_get_type(rr) == LDNS_RR_TYPE_PTR) {
      char* text = ldns_rdf2str(data);
      name = text ? text : "";
      std::free(text);
      if (name.ends_with('.')) name.pop_back();
    }
  }
  Check(got == addresses, std::string("ldns: addresses of ") + fixture + ": " + Join(got));
  Check(name == ptrName, std::string("ldns: PTR name of ") + fixture + ": " + name);
  ldns_pkt_free(packet);
}

// The reverse name a c-ares or ldns caller builds itself from address text:
// inet_pton, then the octets in reverse order under in-addr.arpa. Written out
// by hand rather than with snprintf, so the peers' rows are not slowed by it.
bool ReverseNameOf(const char* text, char (&out)[32]) {
  in_addr address;
  if (inet_pton(AF_INET, text, &address) != 1) return false;
  const auto* octets = reinterpret_cast<const std::uint8_t*>(&address);
  char* p = out;
  for (int i = 3; i >= 0; --i) {
    const unsigned v = octets[i];
    if (v >= 100) *p++ = static_cast<char>('0' + v / 100);
    if (v >= 10) *p++ = static_cast<char>('0' + v / 10 % 10);
    *p++ = static_cast<char>('0' + v % 10);
    *p++ = '.';
  }
  std::memcpy(p, "in-addr.arpa", sizeof "in-addr.arpa");  // 16 + 13 octets at most: fits 32
  return true;
}

std::vector<std::uint8_t> OursQuery(std::uint16_t type, const char* name) {
  const auto query = vbDNS::BuildQuery(type, std::string_view(name));
  if (!query) return {};
  vbDNS::QueryDatagram datagram;
  const std::size_t size = vbDNS::EncodeQuery(*query, kQueryId, datagram);
  return std::vector<std::uint8_t>(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(size));
}

std::vector<std::uint8_t> CaresQuery(int type, const char* name) {
  unsigned char* buffer = nullptr;
  int length = 0;
  if (ares_create_query(name, ns_c_in, type, kQueryId, 1, &buffer, &length, 0) != ARES_SUCCESS) return {};
  std::vector<std::uint8_t> out(buffer, buffer + length);
  ares_free_string(buffer);
  return out;
}

std::vector<std::uint8_t> LdnsQuery(ldns_rr_type type, const char* name) {
  ldns_rdf* owner = ldns_dname_new_frm_str(name);
  if (owner == nullptr) return {};
  ldns_pkt* packet = ldns_pkt_query_new(owner, type, LDNS_RR_CLASS_IN, LDNS_RD);
  if (packet == nullptr) return {};
  ldns_pkt_set_id(packet, kQueryId);
  std::uint8_t* wire = nullptr;
  std::size_t size = 0;
  std::vector<std::uint8_t> out;
  if (ldns_pkt2wire(&wire, packet, &size) == LDNS_STATUS_OK) out.assign(wire, wire + size);
  std::free(wire);
  ldns_pkt_free(packet);
  return out;
}

void VerifyQueries() {
  char reverse[32];
  Check(ReverseNameOf(kReverseText, reverse) && std::string_view(reverse) == "1.2.0.192.in-addr.arpa",
        "reverse name of 192.0.2.1");

  const auto oursA = OursQuery(vbDNS::TYPE_A, kQueryName);
  Check(oursA.size() == 33, "ours: A query of " + std::string(kQueryName) + " is " + Hex(oursA));
  Check(CaresQuery(ns_t_a, kQueryName) == oursA, "c-ares: A query differs: " + Hex(CaresQuery(ns_t_a, kQueryName)));
  Check(LdnsQuery(LDNS_RR_TYPE_A, kQueryName) == oursA,
        "ldns: A query differs: " + Hex(LdnsQuery(LDNS_RR_TYPE_A, kQueryName)));

  const auto oursPtr = OursQuery(vbDNS::TYPE_PTR, kReverseText);
  // The question of the PTR fixture is exactly what goes out.
  const std::vector<std::uint8_t> expected(std::begin(kPtr) + vbDNS::HEADER_SIZE, std::begin(kPtr) + 40);
  Check(oursPtr.size() == vbDNS::HEADER_SIZE + expected.size() &&
            std::equal(expected.begin(), expected.end(), oursPtr.begin() + vbDNS::HEADER_SIZE),
        "ours: PTR query is " + Hex(oursPtr));
  Check(CaresQuery(ns_t_ptr, reverse) == oursPtr, "c-ares: PTR query differs: " + Hex(CaresQuery(ns_t_ptr, reverse)));
  Check(LdnsQuery(LDNS_RR_TYPE_PTR, reverse) == oursPtr,
        "ldns: PTR query differs: " + Hex(LdnsQuery(LDNS_RR_TYPE_PTR, reverse)));
}

// ---------------------------------------------------------------------------
// Whole replies, every record typed: the second class's reader (ReadMessage)
// against what c-ares 1.18 (Debian 12's; ares_dns_parse came in 1.22) offers
// for the same records, its per-type parsers, and against ldns_wire2pkt, a
// whole-message parser. Built with the packet builder, annotated by its parts.

namespace p = vavizav::packets;

// (4) example.com ANY: 3 MX, 3 TXT, 3 SRV, 3 NS, every name compressed into
// the question (@12).
const vbDNS::Packet kMix12 = [] {
  const auto own = p::Pointer(12);
  const auto host = [&](std::string_view label) { return p::Join({p::CharacterString(label), p::Pointer(12)}); };
  return p::Join({
      p::MessageHeader(1, 12, 0, 0),                        // QD 1, AN 12
      p::Question(p::DottedName("example.com"), 255),       // @12 example.com ANY
      p::Record(own, 15, p::Join({p::U16(10), host("mx1")}), 3600),  // MX 10 mx1.example.com.
      p::Record(own, 15, p::Join({p::U16(20), host("mx2")}), 3600),
      p::Record(own, 15, p::Join({p::U16(30), host("mx3")}), 3600),
      p::Record(own, 16, p::CharacterString("v=spf1 include:_spf.example.com ~all"), 300),  // TXT
      p::Record(own, 16, p::CharacterString("site-verification=0123456789abcdef0123456789abcdef"), 300),
      p::Record(own, 16, p::Join({p::CharacterString("hello"), p::CharacterString("world")}), 300),
      p::Record(own, 33, p::Join({p::U16(10), p::U16(60), p::U16(5060), host("sip1")}), 600),  // SRV
      p::Record(own, 33, p::Join({p::U16(10), p::U16(40), p::U16(5060), host("sip2")}), 600),
      p::Record(own, 33, p::Join({p::U16(20), p::U16(0), p::U16(5061), host("sip3")}), 600),
      p::Record(own, 2, host("ns1"), 86400),                                                    // NS
      p::Record(own, 2, host("ns2"), 86400),
      p::Record(own, 2, host("ns3"), 86400),
  });
}();

// (5) nothere.example.com A: NXDOMAIN, the zone's SOA in the authority
// section, its names compressed into the question (example.com @20).
const vbDNS::Packet kNxdomainSoa = p::Join({
    p::MessageHeader(1, 0, 1, 0, 0x83),                     // NXDOMAIN, QD 1, NS 1
    p::Question(p::DottedName("nothere.example.com"), 1),   // @12; example.com @20
    p::Record(p::Pointer(20), 6,                            // example.com SOA
              p::Join({p::CharacterString("ns1"), p::Pointer(20),         // ns1.example.com.
                       p::CharacterString("hostmaster"), p::Pointer(20),  // hostmaster.example.com.
                       p::U32(2026120801), p::U32(7200), p::U32(3600), p::U32(1209600), p::U32(300)}),
              300),
});

// (6) www.example.com A: 40 addresses, owners compressed (@12).
const vbDNS::Packet kFortyA = [] {
  vbDNS::Packet packet = p::Join({p::MessageHeader(1, 40, 0, 0), p::Question(p::DottedName("www.example.com"), 1)});
  for (std::uint8_t i = 1; i <= 40; ++i) packet = p::Join({packet, p::Record(p::Pointer(12), 1, {198, 51, 100, i})});
  return packet;
}();

std::string OurLine(const vbDNS::Message& message, const vbDNS::ResourceRecord& record) {
  std::string line = vbDNS::NameText(message, record.Owner);
  line += '\t';
  line += std::to_string(record.TTL);
  line += '\t';
  line += vbDNS::ClassMnemonic(record.Class);
  line += '\t';
  line += vbDNS::TypeMnemonic(record.Type);
  line += '\t';
  line += vbDNS::DataText(message, record);
  return line;
}

std::vector<std::string> OurLines(std::span<const std::uint8_t> bytes) {
  std::vector<std::string> lines;
  const auto message = vbDNS::ReadMessage(bytes);
  if (!message) return lines;
  for (const auto& record : message->AllRecords()) lines.push_back(OurLine(*message, record));
  return lines;
}

std::vector<std::string> LdnsLines(std::span<const std::uint8_t> bytes) {
  std::vector<std::string> lines;
  ldns_pkt* packet = nullptr;
  if (ldns_wire2pkt(&packet, bytes.data(), bytes.size()) != LDNS_STATUS_OK) return lines;
  for (const ldns_rr_list* list : {ldns_pkt_answer(packet), ldns_pkt_authority(packet), ldns_pkt_additional(packet)}) {
    for (std::size_t i = 0; i < ldns_rr_list_rr_count(list); ++i) {
      char* text = ldns_rr2str(ldns_rr_list_rr(list, i));
      std::string line = text ? text : "";
      std::free(text);
      if (!line.empty() && line.back() == '\n') line.pop_back();
      lines.push_back(line);
    }
  }
  ldns_pkt_free(packet);
  return lines;
}

int CaresMixCount(std::span<const std::uint8_t> bytes) {
  const int length = static_cast<int>(bytes.size());
  int found = 0;
  ares_mx_reply* mx = nullptr;
  if (ares_parse_mx_reply(bytes.data(), length, &mx) == ARES_SUCCESS) {
    for (ares_mx_reply* r = mx; r != nullptr; r = r->next) ++found;
  }
  ares_free_data(mx);
  ares_txt_ext* txt = nullptr;
  if (ares_parse_txt_reply_ext(bytes.data(), length, &txt) == ARES_SUCCESS) {
    for (ares_txt_ext* r = txt; r != nullptr; r = r->next) found += r->record_start;
  }
  ares_free_data(txt);
  ares_srv_reply* srv = nullptr;
  if (ares_parse_srv_reply(bytes.data(), length, &srv) == ARES_SUCCESS) {
    for (ares_srv_reply* r = srv; r != nullptr; r = r->next) ++found;
  }
  ares_free_data(srv);
  hostent* ns = nullptr;
  if (ares_parse_ns_reply(bytes.data(), length, &ns) == ARES_SUCCESS) {
    for (char** alias = ns->h_aliases; *alias != nullptr; ++alias) ++found;
  }
  if (ns != nullptr) ares_free_hostent(ns);
  return found;
}

void VerifyWholeReplies() {
  for (const auto& [fixture, bytes, records] :
       {std::tuple{"mix12", &kMix12, 12}, std::tuple{"nxdomain_soa", &kNxdomainSoa, 1},
        std::tuple{"forty_a", &kFortyA, 40}}) {
    const std::vector<std::string> ours = OurLines(*bytes);
    const std::vector<std::string> ldns = LdnsLines(*bytes);
    Check(static_cast<int>(ours.size()) == records, std::string("ours: records of ") + fixture);
    Check(ours == ldns, std::string("ours and ldns differ on ") + fixture + ": " + (ours.empty() ? "" : ours[0]) +
                            " / " + (ldns.empty() ? "" : ldns[0]));
  }
  Check(CaresMixCount(kMix12) == 12, "c-ares: records of mix12: " + std::to_string(CaresMixCount(kMix12)));
  // c-ares 1.18's ares_parse_soa_reply reads the answer section only and
  // refuses this reply (ARES_EBADRESP): the row has ldns alone as its peer.
  ares_addrttl ttls[40];
  int count = 40;
  Check(ares_parse_a_reply(kFortyA.data(), static_cast<int>(kFortyA.size()), nullptr, ttls, &count) == ARES_SUCCESS &&
            count == 40,
        "c-ares: addresses of forty_a");
}

bool VerifyAll() {
  VerifyWholeReplies();
  VerifyOurs("one_a", kOneA, vbDNS::TYPE_A, kOneAAddresses, {});
  VerifyOurs("cname_4a", kCnameFourA, vbDNS::TYPE_A, kCnameFourAAddresses, {});
  VerifyOurs("ptr", kPtr, vbDNS::TYPE_PTR, {}, kPtrName);
  VerifyCaresA("one_a", kOneA, kOneAAddresses);
  VerifyCaresA("cname_4a", kCnameFourA, kCnameFourAAddresses);
  VerifyCaresPtr("ptr", kPtr, kPtrName);
  VerifyLdns("one_a", kOneA, kOneAAddresses, {});
  VerifyLdns("cname_4a", kCnameFourA, kCnameFourAAddresses, {});
  VerifyLdns("ptr", kPtr, {}, kPtrName);
  VerifyQueries();
  return g_failures == 0;
}

// ---------------------------------------------------------------------------
// The rows. Each operation is one call a caller makes, results freed; the
// timer loops over it, and --loop runs it untimed for callgrind.

void OursParse(std::span<const std::uint8_t> bytes, std::uint16_t type) {
  auto reply = vbDNS::ParseReply(type, bytes);
  benchmark::DoNotOptimize(reply);
}

// The cheapest way to addresses through c-ares: TTL records only, no hostent
// to build and free. (With a hostent as well it costs about a third more.)
void CaresParseA(std::span<const std::uint8_t> bytes) {
  ares_addrttl ttls[8];
  int count = 8;
  benchmark::DoNotOptimize(ares_parse_a_reply(bytes.data(), static_cast<int>(bytes.size()), nullptr, ttls, &count));
  benchmark::DoNotOptimize(ttls);
}

void CaresParsePtr(std::span<const std::uint8_t> bytes) {
  hostent* host = nullptr;
  benchmark::DoNotOptimize(ares_parse_ptr_reply(bytes.data(), static_cast<int>(bytes.size()), kPtrAddress,
                                                sizeof kPtrAddress, AF_INET, &host));
  ares_free_hostent(host);
}

void LdnsParse(std::span<const std::uint8_t> bytes) {
  ldns_pkt* packet = nullptr;
  benchmark::DoNotOptimize(ldns_wire2pkt(&packet, bytes.data(), bytes.size()));
  ldns_pkt_free(packet);
}

// The datagram goes into the caller's buffer, with the ID to send, as the
// exchange does it.
void OursQueryOp(std::uint16_t type, const char* name) {
  const auto query = vbDNS::BuildQuery(type, std::string_view(name));
  vbDNS::QueryDatagram datagram;
  benchmark::DoNotOptimize(vbDNS::EncodeQuery(*query, kQueryId, datagram));
  benchmark::DoNotOptimize(datagram.data());
}

void CaresQueryOp(int type, const char* name) {
  unsigned char* buffer = nullptr;
  int length = 0;
  benchmark::DoNotOptimize(ares_create_query(name, ns_c_in, type, kQueryId, 1, &buffer, &length, 0));
  benchmark::DoNotOptimize(buffer);
  ares_free_string(buffer);
}

void LdnsQueryOp(ldns_rr_type type, const char* name) {
  ldns_pkt* packet = ldns_pkt_query_new(ldns_dname_new_frm_str(name), type, LDNS_RR_CLASS_IN, LDNS_RD);
  ldns_pkt_set_id(packet, kQueryId);
  std::uint8_t* wire = nullptr;
  std::size_t size = 0;
  benchmark::DoNotOptimize(ldns_pkt2wire(&wire, packet, &size));
  benchmark::DoNotOptimize(wire);
  std::free(wire);
  ldns_pkt_free(packet);
}

// The reverse query starts from address text. A c-ares or ldns caller turns
// it into the in-addr.arpa name itself (as ares_gethostbyaddr does), so that
// step belongs to their rows as TextToIP and the reversal belong to ours.
void CaresReverseQueryOp(const char* text) {
  char name[32];
  ReverseNameOf(text, name);
  CaresQueryOp(ns_t_ptr, name);
}

void LdnsReverseQueryOp(const char* text) {
  char name[32];
  ReverseNameOf(text, name);
  LdnsQueryOp(LDNS_RR_TYPE_PTR, name);
}

[[gnu::noinline]] void ParseOneAOurs() { OursParse(kOneA, vbDNS::TYPE_A); }
[[gnu::noinline]] void ParseOneACares() { CaresParseA(kOneA); }
[[gnu::noinline]] void ParseOneALdns() { LdnsParse(kOneA); }
[[gnu::noinline]] void ParseCnameOurs() { OursParse(kCnameFourA, vbDNS::TYPE_A); }
[[gnu::noinline]] void ParseCnameCares() { CaresParseA(kCnameFourA); }
[[gnu::noinline]] void ParseCnameLdns() { LdnsParse(kCnameFourA); }
[[gnu::noinline]] void ParsePtrOurs() { OursParse(kPtr, vbDNS::TYPE_PTR); }
[[gnu::noinline]] void ParsePtrCares() { CaresParsePtr(kPtr); }
[[gnu::noinline]] void ParsePtrLdns() { LdnsParse(kPtr); }
[[gnu::noinline]] void QueryAOurs() { OursQueryOp(vbDNS::TYPE_A, kQueryName); }
[[gnu::noinline]] void QueryACares() { CaresQueryOp(ns_t_a, kQueryName); }
[[gnu::noinline]] void QueryALdns() { LdnsQueryOp(LDNS_RR_TYPE_A, kQueryName); }
[[gnu::noinline]] void QueryPtrOurs() { OursQueryOp(vbDNS::TYPE_PTR, kReverseText); }
[[gnu::noinline]] void QueryPtrCares() { CaresReverseQueryOp(kReverseText); }
[[gnu::noinline]] void QueryPtrLdns() { LdnsReverseQueryOp(kReverseText); }


// Typed reads: every record of the reply, no text.
void OursRead(std::span<const std::uint8_t> bytes) {
  auto message = vbDNS::ReadMessage(bytes);
  benchmark::DoNotOptimize(message);
}

// The text of every record, from the wire: ours reads and prints each
// record's line (owner, TTL, class, type, data) as ldns_rr2str does.
void OursText(std::span<const std::uint8_t> bytes) {
  const auto message = vbDNS::ReadMessage(bytes);
  for (const auto& record : message->AllRecords()) {
    std::string line = OurLine(*message, record);
    benchmark::DoNotOptimize(line.data());
  }
}

void LdnsText(std::span<const std::uint8_t> bytes) {
  ldns_pkt* packet = nullptr;
  ldns_wire2pkt(&packet, bytes.data(), bytes.size());
  for (const ldns_rr_list* list : {ldns_pkt_answer(packet), ldns_pkt_authority(packet), ldns_pkt_additional(packet)}) {
    for (std::size_t i = 0; i < ldns_rr_list_rr_count(list); ++i) {
      char* text = ldns_rr2str(ldns_rr_list_rr(list, i));
      benchmark::DoNotOptimize(text);
      std::free(text);
    }
  }
  ldns_pkt_free(packet);
}

[[gnu::noinline]] void ReadMixOurs() { OursRead(kMix12); }
[[gnu::noinline]] void ReadMixCares() { benchmark::DoNotOptimize(CaresMixCount(kMix12)); }
[[gnu::noinline]] void ReadMixLdns() { LdnsParse(kMix12); }
[[gnu::noinline]] void ReadNxdomainOurs() { OursRead(kNxdomainSoa); }
[[gnu::noinline]] void ReadNxdomainLdns() { LdnsParse(kNxdomainSoa); }
[[gnu::noinline]] void ReadFortyOurs() { OursRead(kFortyA); }
[[gnu::noinline]] void ReadFortyCares() {
  ares_addrttl ttls[40];
  int count = 40;
  benchmark::DoNotOptimize(ares_parse_a_reply(kFortyA.data(), static_cast<int>(kFortyA.size()), nullptr, ttls, &count));
  benchmark::DoNotOptimize(ttls);
}
[[gnu::noinline]] void ReadFortyLdns() { LdnsParse(kFortyA); }
[[gnu::noinline]] void TextMixOurs() { OursText(kMix12); }
[[gnu::noinline]] void TextMixLdns() { LdnsText(kMix12); }
[[gnu::noinline]] void TextNxdomainOurs() { OursText(kNxdomainSoa); }
[[gnu::noinline]] void TextNxdomainLdns() { LdnsText(kNxdomainSoa); }
[[gnu::noinline]] void TextFortyOurs() { OursText(kFortyA); }
[[gnu::noinline]] void TextFortyLdns() { LdnsText(kFortyA); }

// What a record costs to copy (records are plain values, copied whole): the
// parsed fixtures and a built query, each copied once. Reported by
// codec_counts.py; these rows have no peer, so the table leaves them out.
const vbDNS::DNSReply& ParsedFixture(std::span<const std::uint8_t> bytes, std::uint16_t type) {
  static std::vector<vbDNS::DNSReply> kept;  // never shrinks: references stay valid
  kept.reserve(8);
  kept.push_back(*vbDNS::ParseReply(type, bytes));
  return kept.back();
}
template <class Record>
void Copy(const Record& source) {
  Record copy = source;
  benchmark::DoNotOptimize(copy);
}
[[gnu::noinline]] void CopyReplyOneA() {
  static const vbDNS::DNSReply& source = ParsedFixture(kOneA, vbDNS::TYPE_A);
  Copy(source);
}
[[gnu::noinline]] void CopyReplyPtr() {
  static const vbDNS::DNSReply& source = ParsedFixture(kPtr, vbDNS::TYPE_PTR);
  Copy(source);
}
[[gnu::noinline]] void CopyQueryA() {
  static const vbDNS::DNSQuery source = *vbDNS::BuildQuery(vbDNS::TYPE_A, std::string_view(kQueryName));
  Copy(source);
}

struct Row {
  const char* name;  // ROW/LIBRARY; "ours" is this codec
  void (*op)();
  void (*timed)(benchmark::State&);
};

template <void (*Op)()>
void Timed(benchmark::State& state) {
  for (auto _ : state) Op();
}

#define VAVIZAV_ROW(name, op) Row{name, op, Timed<op>}
constexpr Row kRows[] = {
    VAVIZAV_ROW("parse_one_a/ours", ParseOneAOurs),     VAVIZAV_ROW("parse_one_a/c-ares", ParseOneACares),
    VAVIZAV_ROW("parse_one_a/ldns", ParseOneALdns),     VAVIZAV_ROW("parse_cname_4a/ours", ParseCnameOurs),
    VAVIZAV_ROW("parse_cname_4a/c-ares", ParseCnameCares), VAVIZAV_ROW("parse_cname_4a/ldns", ParseCnameLdns),
    VAVIZAV_ROW("parse_ptr/ours", ParsePtrOurs),        VAVIZAV_ROW("parse_ptr/c-ares", ParsePtrCares),
    VAVIZAV_ROW("parse_ptr/ldns", ParsePtrLdns),        VAVIZAV_ROW("query_a/ours", QueryAOurs),
    VAVIZAV_ROW("query_a/c-ares", QueryACares),         VAVIZAV_ROW("query_a/ldns", QueryALdns),
    VAVIZAV_ROW("query_ptr/ours", QueryPtrOurs),        VAVIZAV_ROW("query_ptr/c-ares", QueryPtrCares),
    VAVIZAV_ROW("query_ptr/ldns", QueryPtrLdns),
    VAVIZAV_ROW("read_mix12/ours", ReadMixOurs),        VAVIZAV_ROW("read_mix12/c-ares", ReadMixCares),
    VAVIZAV_ROW("read_mix12/ldns", ReadMixLdns),        VAVIZAV_ROW("read_nxdomain_soa/ours", ReadNxdomainOurs),
    VAVIZAV_ROW("read_nxdomain_soa/ldns", ReadNxdomainLdns),
    VAVIZAV_ROW("read_40a/ours", ReadFortyOurs),        VAVIZAV_ROW("read_40a/c-ares", ReadFortyCares),
    VAVIZAV_ROW("read_40a/ldns", ReadFortyLdns),
    VAVIZAV_ROW("text_mix12/ours", TextMixOurs),        VAVIZAV_ROW("text_mix12/ldns", TextMixLdns),
    VAVIZAV_ROW("text_nxdomain_soa/ours", TextNxdomainOurs), VAVIZAV_ROW("text_nxdomain_soa/ldns", TextNxdomainLdns),
    VAVIZAV_ROW("text_40a/ours", TextFortyOurs),        VAVIZAV_ROW("text_40a/ldns", TextFortyLdns),
    VAVIZAV_ROW("copy_reply_one_a", CopyReplyOneA),    VAVIZAV_ROW("copy_reply_ptr", CopyReplyPtr),
    VAVIZAV_ROW("copy_query_a", CopyQueryA),
};
#undef VAVIZAV_ROW

// --loop ROW/LIBRARY N: the operation N times, untimed, for
//   valgrind --tool=callgrind --toggle-collect='*ParseOneAOurs*' codec_bench --loop parse_one_a/ours 100000
// whose collected Ir divided by N is the instruction count of one call.
int Loop(std::string_view name, const char* count) {
  const long n = std::strtol(count, nullptr, 10);
  for (const Row& row : kRows) {
    if (name != row.name) continue;
    void (*volatile op)() = row.op;  // called through memory: never inlined into the loop
    for (long i = 0; i < n; ++i) op();
    return 0;
  }
  std::fprintf(stderr, "codec_bench: no row %.*s\n", static_cast<int>(name.size()), name.data());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool verifyOnly = false;
  const char* loopRow = nullptr;
  const char* loopCount = nullptr;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--verify-only") {
      verifyOnly = true;
    } else if (arg == "--loop" && i + 2 < argc) {
      loopRow = argv[++i];
      loopCount = argv[++i];
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;

  if (ares_library_init(ARES_LIB_INIT_ALL) != ARES_SUCCESS) {
    std::fprintf(stderr, "codec_bench: ares_library_init failed\n");
    return 1;
  }
  if (!VerifyAll()) {
    std::fprintf(stderr, "codec_bench: %d mismatch(es); nothing timed\n", g_failures);
    return 1;
  }
  if (verifyOnly) {
    std::printf("codec_bench: every library agrees on every fixture\n");
    return 0;
  }
  if (loopRow != nullptr) return Loop(loopRow, loopCount);

  for (const Row& row : kRows) benchmark::RegisterBenchmark(row.name, row.timed);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ares_library_cleanup();
  return 0;
}
