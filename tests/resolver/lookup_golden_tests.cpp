// The first class's lookups pinned on every reply the project keeps: each file
// of the fuzz corpora (fuzz/corpus/*: the fuzzers' finds, the hand-written
// seeds, and, captured into corpus/lookup, the replies of the native codec,
// lookup and answer tests, the dig and ldns oracles, the codec bench
// fixtures, and of the Wine tests' unbound, scripted and hostile servers, one
// or two per layout) goes through GetIPFromName's and GetNameFromIP's
// decisions with a stand-in exchange that answers with it. lookup_golden.txt holds, per reply, what
// both gave: any change in which replies count, in the text they make or in
// the LastError they leave shows up here as a line that differs.
//
// One line per reply, tab-separated:
//   FNV-1a-64 of the octets, size, forward Result, forward LastError,
//   reverse Result, reverse LastError
// with "-" for an empty field and, in results, every octet outside
// 0x21..0x7E and '%' written %XX.
//
// The golden file lists the replies it pins; a corpus file it does not list
// (a later fuzzing find) is not judged. To write the file anew from the
// lookups as they are:
//   VAVIZAV_WRITE_LOOKUP_GOLDEN=tests/resolver/lookup_golden.txt build/native/tests/resolver/lookup_golden_tests
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "resolver/lookup.h"
#include "stand_in_exchange.h"

namespace {

std::uint64_t Fnv1a64(const vbDNS::Packet& octets) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const std::uint8_t octet : octets) {
    hash ^= octet;
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string HashText(std::uint64_t hash) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string Field(std::string_view value) {
  if (value.empty()) return "-";
  std::string out;
  for (const char c : value) {
    const auto octet = static_cast<unsigned char>(c);
    if (octet < 0x21 || octet > 0x7E || c == '%') {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", octet);
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

// The line the lookups make of one reply today.
std::string GoldenLine(std::uint64_t hash, const vbDNS::Packet& reply) {
  vavizav::testing::StandInExchange exchange(reply);
  const vavizav::resolver::LookupOutcome forward = vavizav::resolver::ForwardLookup(u"ab.cd", exchange);
  const vavizav::resolver::LookupOutcome reverse = vavizav::resolver::ReverseLookup(u"192.0.2.1", exchange);
  std::ostringstream line;
  line << HashText(hash) << '\t' << reply.size() << '\t' << Field(forward.Result) << '\t'
       << (forward.LastError.empty() ? "-" : forward.LastError) << '\t' << Field(reverse.Result) << '\t'
       << (reverse.LastError.empty() ? "-" : reverse.LastError);
  return line.str();
}

// Every reply of the corpora by its hash, each once.
std::map<std::uint64_t, vbDNS::Packet> CorpusReplies() {
  std::map<std::uint64_t, vbDNS::Packet> replies;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(VAVIZAV_FUZZ_CORPUS)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    vbDNS::Packet octets((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::uint64_t hash = Fnv1a64(octets);
    const auto [at, added] = replies.emplace(hash, octets);
    if (!added && at->second != octets) ADD_FAILURE() << "two replies share the hash " << HashText(hash);
  }
  return replies;
}

TEST(LookupGolden, EveryPinnedReplyGivesTheSameOutcome) {
  const std::map<std::uint64_t, vbDNS::Packet> replies = CorpusReplies();
  ASSERT_GT(replies.size(), 1000u) << "the corpora under " << VAVIZAV_FUZZ_CORPUS;

  if (const char* path = std::getenv("VAVIZAV_WRITE_LOOKUP_GOLDEN")) {
    std::ofstream out(path, std::ios::binary);
    for (const auto& [hash, reply] : replies) out << GoldenLine(hash, reply) << '\n';
    ASSERT_TRUE(out.good()) << path;
    GTEST_SKIP() << "wrote " << replies.size() << " lines to " << path;
  }

  std::ifstream golden(VAVIZAV_LOOKUP_GOLDEN, std::ios::binary);
  ASSERT_TRUE(golden) << VAVIZAV_LOOKUP_GOLDEN;
  std::size_t pinned = 0, answered = 0;
  std::string expected;
  while (std::getline(golden, expected)) {
    ++pinned;
    const std::uint64_t hash = std::strtoull(expected.substr(0, 16).c_str(), nullptr, 16);
    const auto reply = replies.find(hash);
    if (reply == replies.end()) {
      ADD_FAILURE() << "the pinned reply " << expected.substr(0, 16) << " is no longer in the corpora";
      continue;
    }
    const std::string line = GoldenLine(hash, reply->second);
    EXPECT_EQ(line, expected);
    // Fields 4 and 6: the forward and the reverse LastError.
    std::istringstream fields(line);
    std::string field[6];
    for (std::string& f : field) std::getline(fields, f, '\t');
    if (field[3] == "-" || field[5] == "-") ++answered;
  }
  // The pinned set means something only when it holds answers and failures alike.
  EXPECT_GT(pinned, 1000u);
  EXPECT_GT(answered, 150u);
}

}  // namespace
