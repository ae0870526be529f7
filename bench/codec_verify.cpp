// The verification pass of the codec benchmark: before anything is timed,
// each library's result on each fixture is checked against the expected
// addresses, names and query octets, so no row ever times an error path.
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

#include "codec/message.h"
#include "codec/vbdns.h"
#include "codec_bench.h"
#include "codec_fixtures.h"
#include "packets.h"
#include "resolver/lookup.h"
#include "text.h"

namespace codec_bench {

using vavizav::testing::Hex;

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

// What the first class makes of the fixture: ReadMessage as its lookups read
// replies, then their formatting (addresses joined by CR LF, or the name).
void VerifyOurs(const char* fixture, std::span<const std::uint8_t> bytes, std::uint16_t type,
                const std::vector<std::string>& addresses, std::string_view ptrName) {
  const auto reply = vbDNS::ReadMessage(bytes, vbDNS::ReadScope::AnswerOctets);
  Check(reply.has_value(), std::string("ours: ReadMessage refused ") + fixture);
  if (!reply) return;
  std::string text;
  if (type == vbDNS::TYPE_A) {
    std::string expected;
    for (const std::string& address : addresses) expected += (expected.empty() ? "" : "\r\n") + address;
    Check(vavizav::resolver::AppendForwardResult(*reply, text) && text == expected,
          std::string("ours: addresses of ") + fixture + ": " + text);
  } else {
    Check(vavizav::resolver::AppendReverseResult(*reply, text) && text == ptrName,
          std::string("ours: PTR name of ") + fixture + ": " + text);
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
  const int status = ares_parse_ptr_reply(bytes.data(), static_cast<int>(bytes.size()), PTR_ADDRESS,
                                          sizeof PTR_ADDRESS, AF_INET, &host);
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
  const std::size_t size = vbDNS::EncodeQuery(*query, BENCH_QUERY_ID, datagram);
  return std::vector<std::uint8_t>(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(size));
}

std::vector<std::uint8_t> CaresQuery(int type, const char* name) {
  unsigned char* buffer = nullptr;
  int length = 0;
  if (ares_create_query(name, ns_c_in, type, BENCH_QUERY_ID, 1, &buffer, &length, 0) != ARES_SUCCESS) return {};
  std::vector<std::uint8_t> out(buffer, buffer + length);
  ares_free_string(buffer);
  return out;
}

std::vector<std::uint8_t> LdnsQuery(ldns_rr_type type, const char* name) {
  ldns_rdf* owner = ldns_dname_new_frm_str(name);
  if (owner == nullptr) return {};
  ldns_pkt* packet = ldns_pkt_query_new(owner, type, LDNS_RR_CLASS_IN, LDNS_RD);
  if (packet == nullptr) return {};
  ldns_pkt_set_id(packet, BENCH_QUERY_ID);
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
  Check(ReverseNameOf(REVERSE_TEXT, reverse) && std::string_view(reverse) == "1.2.0.192.in-addr.arpa",
        "reverse name of 192.0.2.1");

  const auto oursA = OursQuery(vbDNS::TYPE_A, QUERY_NAME);
  Check(oursA.size() == 33, "ours: A query of " + std::string(QUERY_NAME) + " is " + Hex(oursA));
  Check(CaresQuery(ns_t_a, QUERY_NAME) == oursA, "c-ares: A query differs: " + Hex(CaresQuery(ns_t_a, QUERY_NAME)));
  Check(LdnsQuery(LDNS_RR_TYPE_A, QUERY_NAME) == oursA,
        "ldns: A query differs: " + Hex(LdnsQuery(LDNS_RR_TYPE_A, QUERY_NAME)));

  const auto oursPtr = OursQuery(vbDNS::TYPE_PTR, REVERSE_TEXT);
  // The question of the PTR fixture is exactly what goes out.
  const std::vector<std::uint8_t> expected(std::begin(PTR_REPLY) + vbDNS::HEADER_SIZE, std::begin(PTR_REPLY) + 40);
  Check(oursPtr.size() == vbDNS::HEADER_SIZE + expected.size() &&
            std::equal(expected.begin(), expected.end(), oursPtr.begin() + vbDNS::HEADER_SIZE),
        "ours: PTR query is " + Hex(oursPtr));
  Check(CaresQuery(ns_t_ptr, reverse) == oursPtr, "c-ares: PTR query differs: " + Hex(CaresQuery(ns_t_ptr, reverse)));
  Check(LdnsQuery(LDNS_RR_TYPE_PTR, reverse) == oursPtr,
        "ldns: PTR query differs: " + Hex(LdnsQuery(LDNS_RR_TYPE_PTR, reverse)));
}


// The whole-reply rows' helpers and checks.

std::string OurLine(const vbDNS::Message& message, const vbDNS::ResourceRecord& record) {
  std::string line = vbDNS::NameTextOf(message, record.Owner);
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
       {std::tuple{"mix12", &MIX12, 12}, std::tuple{"nxdomain_soa", &NXDOMAIN_SOA, 1},
        std::tuple{"forty_a", &FORTY_A, 40}}) {
    const std::vector<std::string> ours = OurLines(*bytes);
    const std::vector<std::string> ldns = LdnsLines(*bytes);
    Check(static_cast<int>(ours.size()) == records, std::string("ours: records of ") + fixture);
    Check(ours == ldns, std::string("ours and ldns differ on ") + fixture + ": " + (ours.empty() ? "" : ours[0]) +
                            " / " + (ldns.empty() ? "" : ldns[0]));
  }
  Check(CaresMixCount(MIX12) == 12, "c-ares: records of mix12: " + std::to_string(CaresMixCount(MIX12)));
  // c-ares 1.18's ares_parse_soa_reply reads the answer section only and
  // refuses this reply (ARES_EBADRESP): the row has ldns alone as its peer.
  ares_addrttl ttls[40];
  int count = 40;
  Check(ares_parse_a_reply(FORTY_A.data(), static_cast<int>(FORTY_A.size()), nullptr, ttls, &count) == ARES_SUCCESS &&
            count == 40,
        "c-ares: addresses of forty_a");
}

bool VerifyAll() {
  VerifyWholeReplies();
  VerifyOurs("one_a", ONE_A, vbDNS::TYPE_A, ONE_A_ADDRESSES, {});
  VerifyOurs("cname_4a", CNAME_FOUR_A, vbDNS::TYPE_A, CNAME_FOUR_A_ADDRESSES, {});
  VerifyOurs("ptr", PTR_REPLY, vbDNS::TYPE_PTR, {}, PTR_NAME);
  VerifyCaresA("one_a", ONE_A, ONE_A_ADDRESSES);
  VerifyCaresA("cname_4a", CNAME_FOUR_A, CNAME_FOUR_A_ADDRESSES);
  VerifyCaresPtr("ptr", PTR_REPLY, PTR_NAME);
  VerifyLdns("one_a", ONE_A, ONE_A_ADDRESSES, {});
  VerifyLdns("cname_4a", CNAME_FOUR_A, CNAME_FOUR_A_ADDRESSES, {});
  VerifyLdns("ptr", PTR_REPLY, {}, PTR_NAME);
  VerifyQueries();
  return g_failures == 0;
}


}  // namespace codec_bench
