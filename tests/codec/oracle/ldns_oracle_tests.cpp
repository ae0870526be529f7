// ldns as the second oracle of the whole-reply reader's text: for every reply
// of the fuzz corpora and the seeds that both ldns and the reader accept, the
// same records in the same sections, each owner and data column equal to
// ldns_rr2str's, except where a listed, explained difference applies.
//
// Where they differ and why this reader follows dig, not ldns:
//  - hex_case: ldns prints the hex of DS, SSHFP, TLSA and RFC 3597 data in
//    lower case; dig prints upper case.
//  - name_escapes: inside a label ldns leaves '"' '(' ')' ';' '@' '$' bare;
//    dig escapes them with a backslash (zone file specials).
//  - class_specific: A, AAAA, SRV and NAPTR are laid out for class IN only;
//    dig prints them as RFC 3597 data in other classes (and refuses an A of
//    class CH with 4 octets), ldns reads them the same in every class.
//  - tab_bare: ldns leaves a tab inside a character-string bare; dig writes
//    \009 as for every octet outside 0x20..0x7E.
//  - ldns_misaligned: ldns reads some records by its own idea of the type's
//    layout instead of RDLENGTH (an A of class 32769 holding 16 octets read
//    as 4 octets) and then reads the following octets as records of type 0;
//    the rest of that reply is not compared.
//  - ldns_unprintable: ldns_rr2str gives no text (data of a type ldns knows
//    but cannot print, as a malformed APL); nothing to compare.
//  - untyped_known: types this reader keeps as octets but ldns (and dig)
//    print in their own format (DNSKEY, RRSIG, LOC, ...): the reader's "\#" form
//    is the RFC 3597 text of the same data.
//  - ldns_own_format: types both read whose text ldns writes its own way
//    (a key's comment, blanks after a type bitmap, lower-case hex, LOC's
//    "04" and "-2m", alpn unquoted, LOC of another version as bare hex); the
//    dig oracle checks the reader's text of them.
// Replies only one of them accepts are counted, not compared. ldns refuses
// pointers this reader follows (into the header, among others) and data it
// cannot decode of types this reader keeps as octets; it accepts forward
// compression pointers and a second OPT record, both refused here.
// ldns/common.h turns bool, true and false into macros unless stdbool.h came first.
#include <stdbool.h>

#include <ldns/ldns.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "codec/message.h"

namespace {

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct LdnsRecord {
  std::string Owner, Data;
  std::uint16_t Type = 0, Class = 0;
};

// Owner and data columns of ldns_rr2str: "OWNER\tTTL\tCLASS\tTYPE\tDATA\n".
LdnsRecord Columns(const ldns_rr* rr) {
  LdnsRecord record;
  record.Type = static_cast<std::uint16_t>(ldns_rr_get_type(rr));
  record.Class = static_cast<std::uint16_t>(ldns_rr_get_class(rr));
  char* text = ldns_rr2str(rr);
  std::string line = text != nullptr ? text : "";
  std::free(text);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  std::size_t at = 0;
  for (int field = 0; field < 4 && at != std::string::npos; ++field) {
    const std::size_t tab = line.find('\t', at);
    if (field == 0) record.Owner = line.substr(at, tab - at);
    at = tab == std::string::npos ? tab : tab + 1;
  }
  if (at != std::string::npos) record.Data = line.substr(at);
  return record;
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

std::string WithoutZoneFileEscapes(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && std::string_view("\"();@$").find(text[i + 1]) != std::string::npos) {
      continue;
    }
    out += text[i];
    if (text[i] == '\\' && i + 1 < text.size()) out += text[++i];
  }
  return out;
}

std::string TabsBare(std::string text) {
  for (std::size_t at; (at = text.find("\\009")) != std::string::npos;) text.replace(at, 4, "\t");
  return text;
}

// Whether the reader types it: a row of the record table (in class IN).
bool Typed(std::uint16_t type) { return vbDNS::FindTypeRow(type, vbDNS::CLASS_IN) != nullptr; }

// The typed types ldns prints as dig does (hex case aside). The others
// (SVCB, HTTPS, URI, DNSKEY, RRSIG, NSEC, NSEC3, LOC, ...) ldns prints in its
// own way, checked against dig by the dig oracle instead.
bool LdnsPrintsAsDig(std::uint16_t type) {
  switch (type) {
    case 1: case 2: case 5: case 6: case 12: case 13: case 15: case 16: case 28: case 33: case 35: case 39: case 43:
    case 44: case 52: case 99: case 257:
      return true;
    default:
      return false;
  }
}

// The name of the explained difference between the two texts, or "" when
// none explains it.
std::string Explain(const LdnsRecord& ldns, const std::string& ours, bool data) {
  const std::string& theirs = data ? ldns.Data : ldns.Owner;
  if (data && Upper(theirs) == Upper(ours) &&
      (ldns.Type == 43 || ldns.Type == 44 || ldns.Type == 52 || !Typed(ldns.Type))) {
    return "hex_case";
  }
  if (data && !Typed(ldns.Type)) return "untyped_known";
  if (data && !LdnsPrintsAsDig(ldns.Type)) return "ldns_own_format";
  if (data && ldns.Class != 1 && (ldns.Type == 1 || ldns.Type == 28 || ldns.Type == 33 || ldns.Type == 35)) {
    return "class_specific";
  }
  // ldns escapes some of the zone-file characters in names ("(" ")" ";"),
  // dig and ours all of them.
  if (WithoutZoneFileEscapes(ours) == WithoutZoneFileEscapes(theirs)) return "name_escapes";
  // ldns prints a CAA record's empty value as nothing, dig and ours as "".
  if (data && ldns.Type == 257 && ours == theirs + " \"\"") return "caa_empty_value";
  if (data && TabsBare(ours) == theirs) return "tab_bare";
  return "";
}

std::vector<std::filesystem::path> CorpusFiles() {
  std::vector<std::filesystem::path> files;
  for (const char* corpus : {"message", "lookup"}) {
    const std::filesystem::path dir = std::filesystem::path(VAVIZAV_FUZZ_CORPUS) / corpus;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(LdnsOracle, SameTextOnEveryReplyBothAccept) {
  const std::vector<std::filesystem::path> files = CorpusFiles();
  ASSERT_GT(files.size(), 50u) << "the fuzz corpora are missing";
  std::map<std::string, int> explained;
  int bothAccept = 0, onlyLdns = 0, onlyOurs = 0, records = 0;
  for (const auto& path : files) {
    const std::vector<std::uint8_t> octets = ReadFile(path);
    const auto message = vbDNS::ReadMessage(octets);
    ldns_pkt* packet = nullptr;
    const bool ldnsAccepts = ldns_wire2pkt(&packet, octets.data(), octets.size()) == LDNS_STATUS_OK;
    if (!message || !ldnsAccepts) {
      if (ldnsAccepts && !message && std::getenv("VAVIZAV_ORACLE_VERBOSE")) {
        std::printf("only ldns accepts %s\n", path.filename().c_str());
      }
      onlyLdns += ldnsAccepts && !message;
      onlyOurs += !ldnsAccepts && message;
      if (packet != nullptr) ldns_pkt_free(packet);
      continue;
    }
    ++bothAccept;
    const ldns_rr_list* sections[3] = {ldns_pkt_answer(packet), ldns_pkt_authority(packet),
                                       ldns_pkt_additional(packet)};
    for (int section = 0; section < 3; ++section) {
      const auto ours = message->Records(static_cast<vbDNS::Section>(section));
      ASSERT_EQ(ours.size(), ldns_rr_list_rr_count(sections[section])) << path.filename() << " section " << section;
      for (std::size_t i = 0; i < ours.size(); ++i) {
        ++records;
        const LdnsRecord theirs = Columns(ldns_rr_list_rr(sections[section], i));
        const std::string owner = vbDNS::NameTextOf(*message, ours[i].Owner);
        const std::string data = vbDNS::DataText(*message, ours[i]);
        if (ours[i].Type != theirs.Type) {
          // ldns lost its place in the reply: it read a record by its own
          // idea of the type's layout instead of by RDLENGTH (an A of
          // another class with 16 octets read as 4, the rest as records).
          ++explained["ldns_misaligned"];
          if (std::getenv("VAVIZAV_ORACLE_VERBOSE")) {
            std::printf("ldns_misaligned: %s record %zu of section %d: ours type %u, ldns type %u\n",
                        path.filename().c_str(), i, section, ours[i].Type, theirs.Type);
          }
          break;
        }
        if (theirs.Owner.empty()) {
          ++explained["ldns_unprintable"];  // ldns_rr2str gave no text for this record
          continue;
        }
        for (const bool isData : {false, true}) {
          const std::string& mine = isData ? data : owner;
          if (mine == (isData ? theirs.Data : theirs.Owner)) continue;
          const std::string why = Explain(theirs, mine, isData);
          if (why.empty()) {
            ADD_FAILURE() << path.filename() << " record " << i << " of section " << section << " type "
                          << theirs.Type << (isData ? " data" : " owner") << "\n  ours: " << mine
                          << "\n  ldns: " << (isData ? theirs.Data : theirs.Owner);
          } else {
            ++explained[why];
            if (std::getenv("VAVIZAV_ORACLE_VERBOSE")) std::printf("%s: %s\n  ours: %s\n  ldns: %s\n", why.c_str(), path.filename().c_str(), mine.c_str(), (isData ? theirs.Data : theirs.Owner).c_str());
          }
        }
      }
    }
    ldns_pkt_free(packet);
  }
  std::printf("ldns oracle: %zu replies, %d accepted by both, %d records compared; only ldns accepts %d, only "
              "the reader %d\n",
              files.size(), bothAccept, records, onlyLdns, onlyOurs);
  for (const auto& [why, count] : explained) std::printf("ldns oracle: explained difference %s: %d\n", why.c_str(), count);
  EXPECT_GT(bothAccept, 20);
}

}  // namespace
