// The whole-reply reader: every section, the layout of each typed type with
// its edges, the text dig prints for it, names inside data, EDNS metadata.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/message.h"
#include "packets.h"

namespace {

namespace p = vavizav::packets;
using vbDNS::Packet;
using vbDNS::Section;

// Question rec.test (offset 12, 10 octets), type ANY; answers start at 26.
constexpr std::size_t ANSWERS_AT = 26;
Packet QuestionRecTest(std::uint16_t type = 255) { return p::Question(p::DottedName("rec.test"), type); }

// A reply whose answers, authority and additional records are given whole.
Packet Reply(std::vector<Packet> answers, std::vector<Packet> authority = {}, std::vector<Packet> additional = {},
             std::uint8_t flags2 = p::ReplyFlags2()) {
  Packet packet = p::Join({p::MessageHeader(1, static_cast<std::uint16_t>(answers.size()),
                                            static_cast<std::uint16_t>(authority.size()),
                                            static_cast<std::uint16_t>(additional.size()), flags2),
                           QuestionRecTest()});
  for (const auto* section : {&answers, &authority, &additional}) {
    for (const Packet& record : *section) packet = p::Join({packet, record});
  }
  return packet;
}

// One answer of `type` with `data`, owned by the question's name.
Packet OneAnswer(std::uint16_t type, const Packet& data, std::uint16_t klass = vbDNS::CLASS_IN) {
  return Reply({p::Record(p::Pointer(12), type, data, 60, klass)});
}

bool Reads(const Packet& packet) { return vbDNS::ReadMessage(packet).has_value(); }

std::vector<std::string> AnswerTexts(const vbDNS::Message& message) {
  std::vector<std::string> texts;
  for (const auto& record : message.Records(Section::Answer)) texts.push_back(vbDNS::DataText(message, record));
  return texts;
}

Packet Repeat(std::size_t n, std::uint8_t octet) { return Packet(n, octet); }
std::string Hex(const std::string& pair, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text += pair;
  return text;
}

struct TypedCase {
  const char* what;
  std::uint16_t type;
  Packet data;
  std::string text;
  bool oneShortReads;  // the same data without its last octet still fits the layout
  bool oneLongReads;   // the same data with a zero octet appended still fits the layout
};

std::vector<TypedCase> TypedCases() {
  const Packet sha1 = Repeat(20, 0xAB), sha256 = Repeat(32, 0x01);
  return {
      {"A", 1, {192, 0, 2, 1}, "192.0.2.1", false, false},
      {"AAAA", 28, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "2001:db8::1", false, false},
      {"AAAA all zeros", 28, Repeat(16, 0), "::", false, false},
      {"AAAA one zero group stays", 28, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1},
       "2001:db8:0:1:1:1:1:1", false, false},
      {"AAAA first of two equal runs", 28, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1},
       "2001:db8::1:0:0:1", false, false},
      {"AAAA longest run wins", 28, {0x20, 0x01, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}, "2001:0:0:1::1", false,
       false},
      {"AAAA mapped", 28, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 1, 2, 3, 4}, "::ffff:1.2.3.4", false, false},
      {"AAAA compatible", 28, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}, "::1.2.3.4", false, false},
      {"AAAA trailing run", 28, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "fe80::", false, false},
      {"NS", 2, p::DottedName("ns.example"), "ns.example.", false, false},
      {"CNAME to the root", 5, p::Name({}), ".", false, false},
      {"DNAME", 39, p::DottedName("example.net"), "example.net.", false, false},
      {"PTR with escapes", 12, p::Name({"a.b", "c\\d", std::string_view("\x01\x7f \"();@$", 9)}),
       "a\\.b.c\\\\d.\\001\\127\\032\\\"\\(\\)\\;\\@\\$.", false, false},
      {"PTR with high octets", 12, p::Name({"\xc3\xa9t\xe9"}), "\\195\\169t\\233.", false, false},
      {"MX", 15, p::Join({p::U16(10), p::DottedName("mail.example")}), "10 mail.example.", false, false},
      {"TXT empty string", 16, p::CharacterString(""), "\"\"", false, true},
      {"TXT many strings", 16,
       p::Join({p::CharacterString("a"), p::CharacterString(""), p::CharacterString("b c"),
                p::CharacterString("\"\\")}),
       "\"a\" \"\" \"b c\" \"\\\"\\\\\"", false, true},
      {"TXT octets outside printable ASCII", 16, p::CharacterString(std::string_view("\0\x1f\x7f\xff;@", 6)),
       "\"\\000\\031\\127\\255;@\"", false, true},
      {"TXT 255 octets", 16, p::CharacterString(std::string(255, 'x')), "\"" + std::string(255, 'x') + "\"", false,
       true},
      {"SPF", 99, p::CharacterString("v=spf1 -all"), "\"v=spf1 -all\"", false, true},
      {"SRV", 33, p::Join({p::U16(0), p::U16(5), p::U16(5060), p::DottedName("sip.example")}),
       "0 5 5060 sip.example.", false, false},
      {"SOA", 6,
       p::Join({p::DottedName("ns.example"), p::Name({"host.master", "example"}), p::U32(2026120801),
                p::U32(3600), p::U32(600), p::U32(86400), p::U32(4294967295u)}),
       "ns.example. host\\.master.example. 2026120801 3600 600 86400 4294967295", false, false},
      {"CAA", 257, p::Join({{0}, p::CharacterString("issue"), p::Octets("ca.example")}), "0 issue \"ca.example\"",
       true, true},
      {"CAA value with escapes", 257, p::Join({{128}, p::CharacterString("tbs"), p::Octets("q\"b\\\x01")}),
       "128 tbs \"q\\\"b\\\\\\001\"", true, true},
      {"CAA empty value", 257, p::Join({{0}, p::CharacterString("issue")}), "0 issue \"\"", false, true},
      {"NAPTR", 35,
       p::Join({p::U16(100), p::U16(10), p::CharacterString("u"), p::CharacterString("E2U+sip"),
                p::CharacterString("!^.*$!sip:info@example!"), p::Name({})}),
       "100 10 \"u\" \"E2U+sip\" \"!^.*$!sip:info@example!\" .", false, false},
      {"HINFO", 13, p::Join({p::CharacterString("PC"), p::CharacterString("Linux 6")}), "\"PC\" \"Linux 6\"", false,
       false},
      {"SSHFP SHA-1", 44, p::Join({{1, 1}, sha1}), "1 1 " + Hex("AB", 20), false, false},
      {"SSHFP unknown fingerprint type", 44, {4, 9, 0xde, 0xad}, "4 9 DEAD", true, true},
      {"SSHFP unknown fingerprint type, none", 44, {4, 9}, "4 9", false, true},
      {"TLSA", 52, p::Join({{3, 1, 1}, sha256}), "3 1 1 " + Hex("01", 32), true, true},
      {"TLSA one octet of data", 52, {3, 1, 1, 0xAA}, "3 1 1 AA", false, true},
      {"DS SHA-256", 43, p::Join({p::U16(12345), {13, 2}, sha256}), "12345 13 2 " + Hex("01", 32), false, false},
      {"DS unknown digest type", 43, p::Join({p::U16(1), {8, 200, 0x0f}}), "1 8 200 0F", false, true},
      // The rows added with the record table, each with dig's text.
      {"SVCB alias", 64, p::Join({p::U16(0), p::DottedName("pool.example")}), "0 pool.example.", false, false},
      {"SVCB service", 64,
       p::Join({p::U16(1), p::DottedName("svc.example"), p::U16(0), p::U16(2), p::U16(3),
                p::U16(1), p::U16(6), {2, 'h', '2', 2, 'h', '3'}, p::U16(3), p::U16(2), p::U16(443),
                p::U16(4), p::U16(4), {192, 0, 2, 1}}),
       "1 svc.example. mandatory=port alpn=\"h2,h3\" port=443 ipv4hint=192.0.2.1", false, false},
      {"HTTPS", 65,
       p::Join({p::U16(1), p::Name({}), p::U16(2), p::U16(0), p::U16(5), p::U16(2), {0xAB, 0xCD}, p::U16(6),
                p::U16(16), {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, p::U16(65333), p::U16(3),
                {'a', ' ', 1}}),
       "1 . no-default-alpn ech=q80= ipv6hint=2001:db8::1 key65333=\"a \\001\"", false, false},
      {"URI", 256, p::Join({p::U16(10), p::U16(1), p::Octets("ftp://a\"b")}), "10 1 \"ftp://a\\\"b\"", true, true},
      {"DNSKEY", 48, p::Join({p::U16(257), {3, 13, 1, 2, 3, 4}}), "257 3 13 AQIDBA==", true, true},
      {"CDNSKEY", 60, p::Join({p::U16(256), {3, 8, 0xFB}}), "256 3 8 +w==", false, true},
      {"CDS", 59, p::Join({p::U16(2371), {13, 2}, sha256}), "2371 13 2 " + Hex("01", 32), false, false},
      {"RRSIG", 46,
       p::Join({p::U16(1), {13, 2}, p::U32(300), p::U32(1798761599), p::U32(1796083200), p::U16(2371),
                p::DottedName("example"), {1, 2, 3}}),
       "A 13 2 300 20261231235959 20261201000000 2371 example. AQID", true, true},
      {"NSEC", 47, p::Join({p::DottedName("host.example"), {0, 1, 0x60, 1, 1, 0x80}}), "host.example. A NS URI",
       false, false},
      {"NSEC3", 50, p::Join({{1, 1}, p::U16(12), {2, 0xAA, 0xBB, 20}, Repeat(20, 0), {0, 1, 0x40}}),
       "1 1 12 AABB " + std::string(32, '0') + " A", false, false},
      {"NSEC3 without salt or types", 50, p::Join({{1, 0}, p::U16(0), {0, 20}, Repeat(20, 0xFF)}),
       "1 0 0 - " + std::string(32, 'V'), false, false},
      {"NSEC3PARAM", 51, p::Join({{1, 0}, p::U16(10), {4, 0xAA, 0xBB, 0xCC, 0xDD}}), "1 0 10 AABBCCDD", false, false},
      {"OPENPGPKEY", 61, p::Octets("abc"), "YWJj", true, true},
      {"SMIMEA", 53, {3, 1, 1, 0xAA}, "3 1 1 AA", false, true},
      {"LOC", 29,
       p::Join({{0, 0x12, 0x16, 0x13}, p::U32(0x80000000u + 188543000u), p::U32(0x80000000u + 17612000u),
                p::U32(9999800)}),
       "52 22 23.000 N 4 53 32.000 E -2.00m 1m 10000m 10m", false, false},
      {"LOC south, west, small precisions", 29,
       p::Join({{0, 0x00, 0x10, 0x91}, p::U32(0x80000000u - 1), p::U32(0x80000000u - 180 * 3600000u),
                p::U32(10000001)}),
       "0 0 0.001 S 180 0 0.000 W 0.01m 0.00m 0.01m 0.90m", false, false},
      {"LOC of another version", 29, Repeat(16, 1), "\\# 16 " + Hex("01", 16), true, true},
      {"unknown type", 65534, {0x0A, 0, 0, 1}, "\\# 4 0A000001", true, true},
      {"unknown type, empty", 65534, {}, "\\# 0", true, true},
  };
}

TEST(MessageTypes, TextOfEachTypeAndLayoutEdges) {
  for (const TypedCase& c : TypedCases()) {
    SCOPED_TRACE(c.what);
    const Packet packet = OneAnswer(c.type, c.data);
    const auto message = vbDNS::ReadMessage(packet);
    ASSERT_TRUE(message);
    ASSERT_EQ(message->Records(Section::Answer).size(), 1u);
    const vbDNS::ResourceRecord& record = message->Records(Section::Answer)[0];
    EXPECT_EQ(record.Type, c.type);
    EXPECT_EQ(record.RDataOffset, ANSWERS_AT + 12);
    EXPECT_EQ(record.RDataLength, c.data.size());
    EXPECT_EQ(vbDNS::DataText(*message, record), c.text);

    if (!c.data.empty()) {
      Packet shorter = c.data;
      shorter.pop_back();
      EXPECT_EQ(Reads(OneAnswer(c.type, shorter)), c.oneShortReads) << "one octet short";
    }
    Packet longer = c.data;
    longer.push_back(0);
    EXPECT_EQ(Reads(OneAnswer(c.type, longer)), c.oneLongReads) << "one octet left over";
    // RDLENGTH past the end of the message.
    if (!c.data.empty()) {
      const Packet cut(packet.begin(), packet.end() - 1);
      EXPECT_FALSE(vbDNS::ReadMessage(cut)) << "data cut short by the message's end";
    }
  }
}

TEST(MessageTypes, FieldsOfEachType) {
  const auto fieldsOf = [](std::uint16_t type, const Packet& data) {
    const Packet packet = OneAnswer(type, data);
    const auto message = vbDNS::ReadMessage(packet);
    EXPECT_TRUE(message);
    return message ? vbDNS::Fields(*message, message->Records(Section::Answer)[0]) : vbDNS::RecordFields{};
  };
  EXPECT_EQ(fieldsOf(1, {10, 0, 0, 1}).Address, "10.0.0.1");
  EXPECT_EQ(fieldsOf(28, Packet(16, 0)).Address, "::");

  auto mx = fieldsOf(15, p::Join({p::U16(20), p::DottedName("mx.example")}));
  EXPECT_EQ(mx.Preference, 20);
  EXPECT_EQ(mx.Target, "mx.example.");

  auto srv = fieldsOf(33, p::Join({p::U16(1), p::U16(2), p::U16(3), p::Name({})}));
  EXPECT_EQ(srv.Priority, 1);
  EXPECT_EQ(srv.Weight, 2);
  EXPECT_EQ(srv.Port, 3);
  EXPECT_EQ(srv.Target, ".");

  auto txt = fieldsOf(16, p::Join({p::CharacterString("a\"b"), p::CharacterString(""), p::CharacterString("\xff")}));
  EXPECT_EQ(txt.Strings, (std::vector<std::string>{"a\"b", "", "\xff"})) << "raw octets, no quotes or escapes";

  auto hinfo = fieldsOf(13, p::Join({p::CharacterString("cpu"), p::CharacterString("os")}));
  EXPECT_EQ(hinfo.Strings, (std::vector<std::string>{"cpu", "os"}));

  auto soa = fieldsOf(6, p::Join({p::DottedName("ns.example"), p::DottedName("h.example"), p::U32(1), p::U32(2),
                                  p::U32(3), p::U32(4), p::U32(0xFFFFFFFF)}));
  EXPECT_EQ(soa.PrimaryServer, "ns.example.");
  EXPECT_EQ(soa.ResponsibleMailbox, "h.example.");
  EXPECT_EQ(soa.Serial, 1u);
  EXPECT_EQ(soa.Refresh, 2u);
  EXPECT_EQ(soa.Retry, 3u);
  EXPECT_EQ(soa.Expire, 4u);
  EXPECT_EQ(soa.Minimum, 0xFFFFFFFFu);

  auto caa = fieldsOf(257, p::Join({{128}, p::CharacterString("issue"), p::Octets("ca\"x")}));
  EXPECT_EQ(caa.Flags, 128);
  EXPECT_EQ(caa.Tag, "issue");
  EXPECT_EQ(caa.Value, "ca\"x");

  auto naptr = fieldsOf(35, p::Join({p::U16(100), p::U16(10), p::CharacterString("u"), p::CharacterString("E2U"),
                                     p::CharacterString("!x!y!"), p::DottedName("r.example")}));
  EXPECT_EQ(naptr.Order, 100);
  EXPECT_EQ(naptr.Preference, 10);
  EXPECT_EQ(naptr.NaptrFlags, "u");
  EXPECT_EQ(naptr.Services, "E2U");
  EXPECT_EQ(naptr.Regexp, "!x!y!");
  EXPECT_EQ(naptr.Target, "r.example.");

  auto ds = fieldsOf(43, p::Join({p::U16(60485), {5, 1}, Repeat(20, 0x2B)}));
  EXPECT_EQ(ds.KeyTag, 60485);
  EXPECT_EQ(ds.Algorithm, 5);
  EXPECT_EQ(ds.DigestType, 1);
  EXPECT_EQ(ds.Digest, std::string(20, '\x2B'));

  auto tlsa = fieldsOf(52, {3, 1, 2, 0xAA});
  EXPECT_EQ(tlsa.Usage, 3);
  EXPECT_EQ(tlsa.Selector, 1);
  EXPECT_EQ(tlsa.MatchingType, 2);
  EXPECT_EQ(tlsa.Digest, "\xAA");

  auto sshfp = fieldsOf(44, {4, 7});
  EXPECT_EQ(sshfp.Algorithm, 4);
  EXPECT_EQ(sshfp.DigestType, 7);
  EXPECT_EQ(sshfp.Digest, "");

  auto unknown = fieldsOf(65534, {1, 2});
  EXPECT_TRUE(unknown.Address.empty() && unknown.Target.empty() && !unknown.Preference && unknown.Strings.empty());
}

TEST(MessageTypes, FieldsAndMemberValuesOfTheTableRows) {
  const auto fieldsOf = [](std::uint16_t type, const Packet& data) {
    const Packet packet = OneAnswer(type, data);
    const auto message = vbDNS::ReadMessage(packet);
    EXPECT_TRUE(message);
    return message ? vbDNS::Fields(*message, message->Records(Section::Answer)[0]) : vbDNS::RecordFields{};
  };
  using vbDNS::Member;
  using Kind = vbDNS::MemberValue::Kind;
  const auto text = [](const vbDNS::RecordFields& fields, Member member) {
    const vbDNS::MemberValue value = vbDNS::ValueOf(fields, member);
    EXPECT_EQ(value.Is, Kind::Text) << vbDNS::MemberInfoOf(member).Name;
    return value.Text;
  };

  const auto dnskey = fieldsOf(48, p::Join({p::U16(257), {3, 13, 1, 2, 3, 4}}));
  EXPECT_EQ(dnskey.Flags, 257);
  EXPECT_EQ(dnskey.Protocol, 3);
  EXPECT_EQ(dnskey.Algorithm, 13);
  EXPECT_EQ(dnskey.PublicKey, std::string("\x01\x02\x03\x04", 4)) << "raw octets";
  EXPECT_EQ(text(dnskey, Member::PublicKey), "AQIDBA==");
  EXPECT_EQ(vbDNS::ValueOf(dnskey, Member::Flags).Number, 257);
  // A member the type lacks is Empty, even one another type with Flags has (CAA's Tag).
  for (const Member absent : {Member::Tag, Member::Value, Member::Target, Member::Text, Member::Strings}) {
    EXPECT_EQ(vbDNS::ValueOf(dnskey, absent).Is, Kind::Empty) << vbDNS::MemberInfoOf(absent).Name;
  }

  const auto rrsig = fieldsOf(46, p::Join({p::U16(28), {8, 3}, p::U32(86400), p::U32(1798761599), p::U32(0),
                                           p::U16(7), p::DottedName("signer.example"), {0xFF}}));
  EXPECT_EQ(text(rrsig, Member::TypeCovered), "AAAA");
  EXPECT_EQ(rrsig.Labels, 3);
  EXPECT_EQ(vbDNS::ValueOf(rrsig, Member::OriginalTTL).Is, Kind::Double);
  EXPECT_EQ(vbDNS::ValueOf(rrsig, Member::OriginalTTL).Real, 86400.0);
  const vbDNS::MemberValue expiration = vbDNS::ValueOf(rrsig, Member::Expiration);
  EXPECT_EQ(expiration.Is, Kind::Date);
  EXPECT_EQ(expiration.Number, 1798761599);
  EXPECT_EQ(rrsig.Inception, 0) << "1970: within 68 years of now";
  EXPECT_EQ(rrsig.KeyTag, 7);
  EXPECT_EQ(rrsig.SignerName, "signer.example.");
  EXPECT_EQ(text(rrsig, Member::Signature), "/w==");

  const auto nsec3 = fieldsOf(50, p::Join({{1, 1}, p::U16(12), {1, 0xAB, 20}, Repeat(20, 0xFF), {0, 2, 0, 0x01}}));
  EXPECT_EQ(nsec3.Algorithm, 1);
  EXPECT_EQ(nsec3.Flags, 1);
  EXPECT_EQ(nsec3.Iterations, 12);
  EXPECT_EQ(text(nsec3, Member::Salt), "AB");
  EXPECT_EQ(text(nsec3, Member::NextHashedOwner), std::string(32, 'V'));
  EXPECT_EQ(nsec3.Types, "MX");

  const auto nsec = fieldsOf(47, p::Join({p::DottedName("next.example"), {0, 1, 0x40}}));
  EXPECT_EQ(nsec.NextName, "next.example.");
  EXPECT_EQ(nsec.Types, "A");

  const auto svcb =
      fieldsOf(64, p::Join({p::U16(1), p::DottedName("svc.example"), p::U16(3), p::U16(2), p::U16(8443)}));
  EXPECT_EQ(svcb.Priority, 1);
  EXPECT_EQ(svcb.Target, "svc.example.");
  EXPECT_EQ(svcb.Params, "port=8443");
  EXPECT_EQ(vbDNS::ValueOf(svcb, Member::Port).Is, Kind::Empty) << "SVCB's port is a parameter, not SRV's Port";

  const auto uri = fieldsOf(256, p::Join({p::U16(10), p::U16(5), p::Octets("https://example/\xc3\xa9")}));
  EXPECT_EQ(uri.Priority, 10);
  EXPECT_EQ(uri.Weight, 5);
  EXPECT_EQ(uri.Target, "https://example/\xc3\xa9") << "raw octets, no quotes";

  const auto loc = fieldsOf(29, p::Join({{0, 0x12, 0x16, 0x13}, p::U32(0x80000000u - 90 * 3600000u),
                                         p::U32(0x80000000u + 1800000u), p::U32(10000000 + 12345)}));
  EXPECT_EQ(loc.Latitude, -90.0);
  EXPECT_EQ(loc.Longitude, 0.5);
  EXPECT_EQ(loc.Altitude, 123.45);
  EXPECT_EQ(loc.Size, 1.0);
  EXPECT_EQ(loc.HorizontalPrecision, 10000.0);
  EXPECT_EQ(loc.VerticalPrecision, 10.0);

  const auto ds = fieldsOf(59, p::Join({p::U16(1), {8, 1}, Repeat(20, 0x2B)}));
  EXPECT_EQ(text(ds, Member::Digest), Hex("2B", 20));

  // TXT's Text is its strings joined; Strings the array.
  const auto txt = fieldsOf(16, p::Join({p::CharacterString("v=spf1 "), p::CharacterString("-all")}));
  EXPECT_EQ(text(txt, Member::Text), "v=spf1 -all");
  const vbDNS::MemberValue strings = vbDNS::ValueOf(txt, Member::Strings);
  ASSERT_EQ(strings.Is, Kind::Strings);
  EXPECT_EQ(strings.Strings->size(), 2u);
  EXPECT_EQ(vbDNS::ValueOf(txt, Member::Count_).Is, Kind::Empty) << "no such member";
}

TEST(MessageTypes, TableRowsRefuseWhatDigRefuses) {
  const Packet svcbHead = p::Join({p::U16(1), p::Name({})});
  const auto svcb = [&svcbHead](std::initializer_list<Packet> params) {
    Packet data = svcbHead;
    for (const Packet& param : params) data = p::Join({data, param});
    return Reads(OneAnswer(64, data));
  };
  const Packet port = p::Join({p::U16(3), p::U16(2), p::U16(443)});
  const Packet alpn = p::Join({p::U16(1), p::U16(3), {2, 'h', '2'}});
  EXPECT_TRUE(svcb({alpn, port}));
  EXPECT_FALSE(svcb({port, alpn})) << "keys descending";
  EXPECT_FALSE(svcb({port, port})) << "a key twice";
  EXPECT_FALSE(svcb({p::Join({p::U16(1), p::U16(4), {2, 'h', '2', 0}})})) << "an empty alpn id";
  EXPECT_FALSE(svcb({p::Join({p::U16(1), p::U16(0)})})) << "alpn without ids";
  EXPECT_FALSE(svcb({p::Join({p::U16(2), p::U16(1), {0}})})) << "no-default-alpn with a value";
  EXPECT_FALSE(svcb({p::Join({p::U16(3), p::U16(1), {1}})})) << "a port of one octet";
  EXPECT_FALSE(svcb({p::Join({p::U16(4), p::U16(3), {1, 2, 3}})})) << "ipv4hint of 3 octets";
  EXPECT_FALSE(svcb({p::Join({p::U16(6), p::U16(4), {1, 2, 3, 4}})})) << "ipv6hint of 4 octets";
  EXPECT_TRUE(svcb({p::Join({p::U16(0), p::U16(2), p::U16(3)}), port})) << "mandatory=port with port";
  EXPECT_FALSE(svcb({p::Join({p::U16(0), p::U16(2), p::U16(3)}), alpn})) << "mandatory names a missing key";
  EXPECT_FALSE(svcb({p::Join({p::U16(0), p::U16(4), p::U16(3), p::U16(1)}), alpn, port})) << "mandatory unsorted";
  EXPECT_FALSE(svcb({p::Join({p::U16(0), p::U16(2), p::U16(0)})})) << "mandatory lists itself";
  EXPECT_FALSE(svcb({p::Join({p::U16(3), p::U16(4), {1}})})) << "a value past the data";
  EXPECT_TRUE(svcb({p::Join({p::U16(9), p::U16(0)})})) << "an unknown key without value";

  EXPECT_FALSE(Reads(OneAnswer(46, p::Join({p::U16(1), {8, 2}, p::U32(60), p::U32(1), p::U32(0), p::U16(7),
                                             p::Pointer(12), {1}}))))
      << "RRSIG's signer compressed";
  EXPECT_FALSE(Reads(OneAnswer(46, p::Join({p::U16(1), {8, 2}, p::U32(60), p::U32(1), p::U32(0), p::U16(7),
                                             p::Name({})}))))
      << "RRSIG without signature";
  EXPECT_TRUE(Reads(OneAnswer(47, p::Join({p::Pointer(12), {0, 1, 0x40}}))))
      << "NSEC's next name compressed, as dig reads it";
  EXPECT_FALSE(Reads(OneAnswer(47, p::Name({})))) << "NSEC without types";
  EXPECT_FALSE(Reads(OneAnswer(47, p::Join({p::Name({}), {0, 2, 0x40, 0}})))) << "a window ending in zero";
  EXPECT_FALSE(Reads(OneAnswer(47, p::Join({p::Name({}), {1, 1, 0x40, 0, 1, 0x40}})))) << "windows descending";
  EXPECT_FALSE(Reads(OneAnswer(47, p::Join({p::Name({}), {0, 33}, Repeat(32, 0), {1}})))) << "a window of 33";
  EXPECT_TRUE(Reads(OneAnswer(50, p::Join({{2, 0}, p::U16(0), {0, 7}, Repeat(7, 1)})))) << "NSEC3 of another hash";
  EXPECT_FALSE(Reads(OneAnswer(50, p::Join({{1, 0}, p::U16(0), {0, 7}, Repeat(7, 1)})))) << "a SHA-1 hash of 7";
  EXPECT_FALSE(Reads(OneAnswer(50, p::Join({{2, 0}, p::U16(0), {0, 0}})))) << "NSEC3 without hash";
  EXPECT_FALSE(Reads(OneAnswer(48, {1, 1, 3, 8}))) << "DNSKEY without key";
  EXPECT_FALSE(Reads(OneAnswer(61, {}))) << "OPENPGPKEY without key";
  EXPECT_FALSE(Reads(OneAnswer(53, {3, 1, 1}))) << "SMIMEA without data";
  const Packet locTail = p::Join({p::U32(0x80000000u), p::U32(0x80000000u), p::U32(10000000)});
  EXPECT_FALSE(Reads(OneAnswer(29, p::Join({{0, 0xA2, 0x16, 0x13}, locTail})))) << "a mantissa of 10";
  EXPECT_FALSE(Reads(OneAnswer(29, p::Join({{0, 0x1A, 0x16, 0x13}, locTail})))) << "a power of ten of 10";
  EXPECT_FALSE(Reads(OneAnswer(29, p::Join({{0, 0x05, 0x16, 0x13}, locTail})))) << "a mantissa of 0 with a power";
  EXPECT_FALSE(Reads(OneAnswer(29, p::Join({{0, 0x12, 0x16, 0x13}, p::U32(0x80000000u + 90 * 3600000u + 1),
                                             p::U32(0x80000000u), p::U32(0)}))))
      << "beyond the pole";
  EXPECT_FALSE(Reads(OneAnswer(29, p::Join({{0, 0x12, 0x16, 0x13}, p::U32(0x80000000u),
                                             p::U32(0x80000000u - 180 * 3600000u - 1), p::U32(0)}))))
      << "beyond 180 degrees west";
  EXPECT_FALSE(Reads(OneAnswer(29, {}))) << "LOC without version";
  // Outside class IN, SVCB is octets.
  const Packet chaos = OneAnswer(64, {0, 1}, 3);
  const auto message = vbDNS::ReadMessage(chaos);
  ASSERT_TRUE(message);
  EXPECT_EQ(AnswerTexts(*message), std::vector<std::string>{"\\# 2 0001"});
}

TEST(MessageTypes, CharacterStringsAndTagsOverrunningTheirData) {
  // A string's length octet pointing past RDLENGTH, though the message goes on.
  const Packet txtOverrun = Reply({p::Record(p::Pointer(12), 16, {5, 'a', 'b'}), p::Record(p::Pointer(12), 1, {1, 2, 3, 4})});
  EXPECT_FALSE(vbDNS::ReadMessage(txtOverrun));
  EXPECT_FALSE(Reads(OneAnswer(16, {}))) << "TXT holds one string at least";
  EXPECT_FALSE(Reads(OneAnswer(13, p::CharacterString("cpu")))) << "HINFO without OS";
  EXPECT_FALSE(Reads(OneAnswer(257, p::Join({{0}, p::CharacterString("")})))) << "CAA empty tag";
  EXPECT_FALSE(Reads(OneAnswer(257, p::Join({{0}, p::CharacterString("is-sue")})))) << "CAA tag '-'";
  EXPECT_FALSE(Reads(OneAnswer(257, {0, 9, 'i'}))) << "CAA tag past the data";
  EXPECT_FALSE(Reads(OneAnswer(35, p::Join({p::U16(1), p::U16(2), p::CharacterString("u")}))))
      << "NAPTR cut after its flags";
  EXPECT_FALSE(Reads(OneAnswer(52, {3, 1}))) << "TLSA without matching type";
  EXPECT_FALSE(Reads(OneAnswer(43, {0, 1, 8}))) << "DS without digest type";
  EXPECT_FALSE(Reads(OneAnswer(44, {1}))) << "SSHFP without fingerprint type";
}

TEST(MessageTypes, ClassSpecificTypesOutsideClassIn) {
  // A, AAAA, SRV and NAPTR are laid out for class IN only: elsewhere octets.
  const Packet chaosA = OneAnswer(1, {0xC0, 0x0C, 0x12, 0x34}, 3);
  const auto message = vbDNS::ReadMessage(chaosA);
  ASSERT_TRUE(message);
  EXPECT_EQ(AnswerTexts(*message), std::vector<std::string>{"\\# 4 C00C1234"});
  EXPECT_TRUE(Reads(OneAnswer(28, {1, 2, 3}, 4))) << "AAAA of class HS is not checked for 16 octets";
  // TXT is the same in every class (version.bind in CH).
  const Packet chaosTxtPacket = OneAnswer(16, p::CharacterString("9.18"), 3);
  const auto chaosTxt = vbDNS::ReadMessage(chaosTxtPacket);
  ASSERT_TRUE(chaosTxt);
  EXPECT_EQ(AnswerTexts(*chaosTxt), std::vector<std::string>{"\"9.18\""});
}

TEST(MessageNames, OwnersQuestionAndEscapes) {
  // Owner of 255 octets in wire form: labels of 63, 63, 63 and 61.
  const std::string l63(63, 'a'), l61(61, 'b');
  const Packet longName = p::Name({l63, l63, l63, l61});
  ASSERT_EQ(longName.size(), 255u);
  const Packet packet = Reply({p::Record(longName, 1, {1, 2, 3, 4}),
                               p::Record(p::Name({"x.y", "\\", std::string_view("\0\x20\x7e\x7f", 4)}), 1, {5, 6, 7, 8}),
                               p::Record(p::Name({}), 16, p::CharacterString("root"))});
  const auto message = vbDNS::ReadMessage(packet);
  ASSERT_TRUE(message);
  const auto answers = message->Records(Section::Answer);
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(vbDNS::NameTextOf(*message, message->QuestionName()), "rec.test.");
  EXPECT_EQ(vbDNS::NameTextOf(*message, answers[0].Owner), l63 + "." + l63 + "." + l63 + "." + l61 + ".");
  EXPECT_EQ(vbDNS::NameWire(*message, answers[0].Owner).view(), std::string(longName.begin(), longName.end()));
  EXPECT_EQ(vbDNS::NameTextOf(*message, answers[1].Owner), "x\\.y.\\\\.\\000\\032~\\127.");
  EXPECT_EQ(vbDNS::NameTextOf(*message, answers[2].Owner), ".");
  EXPECT_EQ(vbDNS::NameWire(*message, answers[2].Owner).view(), std::string_view("\0", 1));

  // One octet more (a 62-octet last label) is refused, as an owner and as data.
  const Packet tooLong = p::Name({l63, l63, l63, std::string(62, 'b')});
  EXPECT_FALSE(Reads(Reply({p::Record(tooLong, 1, {1, 2, 3, 4})})));
  EXPECT_FALSE(Reads(OneAnswer(5, tooLong)));
  EXPECT_TRUE(Reads(OneAnswer(5, longName)));
}

// Data names compressed into the question's name (offset 12) or an earlier
// record's data: followed in every typed type, as dig does.
TEST(MessageNames, CompressionInsideData) {
  struct Case {
    const char* what;
    std::uint16_t type;
    Packet data;
    const char* text;  // nullptr: refused
  };
  const Case cases[] = {
      {"CNAME", 5, p::Pointer(12), "rec.test."},
      {"NS, label then pointer", 2, p::Join({{2, 'n', 's'}, p::Pointer(12)}), "ns.rec.test."},
      {"PTR into the middle of the question", 12, p::Pointer(16), "test."},
      {"MX", 15, p::Join({p::U16(5), p::Pointer(12)}), "5 rec.test."},
      {"SOA, both names", 6,
       p::Join({p::Pointer(12), p::Join({{1, 'h'}, p::Pointer(12)}), p::U32(1), p::U32(2), p::U32(3), p::U32(4),
                p::U32(5)}),
       "rec.test. h.rec.test. 1 2 3 4 5"},
      {"SRV (RFC 3597 section 4)", 33, p::Join({p::U16(1), p::U16(2), p::U16(3), p::Pointer(12)}),
       "1 2 3 rec.test."},
      {"NAPTR (RFC 3597 section 4)", 35,
       p::Join({p::U16(1), p::U16(2), p::CharacterString(""), p::CharacterString(""), p::CharacterString(""),
                p::Pointer(12)}),
       "1 2 \"\" \"\" \"\" rec.test."},
      {"DNAME (read compressed as dig and ldns do)", 39, p::Pointer(12), "rec.test."},
      {"DNAME, label then pointer", 39, p::Join({{1, 'x'}, p::Pointer(12)}), "x.rec.test."},
      {"pointer to itself", 5, p::Pointer(ANSWERS_AT + 12), nullptr},
      {"pointer forward", 5, p::Pointer(ANSWERS_AT + 14), nullptr},
      {"pointer past the message", 5, p::Pointer(0x3FFF), nullptr},
      {"reserved label type 0x40", 5, {0x40, 0}, nullptr},
      {"name without its end inside RDLENGTH", 5, {3, 'a', 'b', 'c'}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Packet packet = OneAnswer(c.type, c.data);
    const auto message = vbDNS::ReadMessage(packet);
    ASSERT_EQ(message.has_value(), c.text != nullptr);
    if (message) {
      EXPECT_EQ(AnswerTexts(*message), std::vector<std::string>{c.text});
    }
  }

  // Pointers into an earlier record's data, and a two-pointer loop between an
  // owner and a data name.
  const Packet chained = Reply({p::Record(p::Pointer(12), 5, p::Join({{3, 'c', 'd', 'n'}, p::Pointer(12)})),
                                p::Record(p::Pointer(ANSWERS_AT + 12), 1, {1, 2, 3, 4}),
                                p::Record(p::Pointer(ANSWERS_AT + 12), 15, p::Join({p::U16(1), p::Pointer(ANSWERS_AT + 12)}))});
  const auto message = vbDNS::ReadMessage(chained);
  ASSERT_TRUE(message);
  EXPECT_EQ(AnswerTexts(*message), (std::vector<std::string>{"cdn.rec.test.", "1.2.3.4", "1 cdn.rec.test."}));
  EXPECT_EQ(vbDNS::NameTextOf(*message, message->Records(Section::Answer)[2].Owner), "cdn.rec.test.");

  // Owner -> CNAME data (at 38), whose name points back at the owner (at 26).
  const Packet loop = Reply({p::Record(p::Pointer(ANSWERS_AT + 12), 5, p::Pointer(ANSWERS_AT))});
  EXPECT_FALSE(vbDNS::ReadMessage(loop));
}

TEST(MessageSections, HeaderSectionsAndEdns) {
  const Packet packet = Reply({p::Record(p::Pointer(12), 1, {192, 0, 2, 1})},
                              {p::Record(p::Name({"test"}), 6,
                                         p::Join({p::DottedName("ns.test"), p::DottedName("h.test"), p::U32(1),
                                                  p::U32(2), p::U32(3), p::U32(4), p::U32(5)}))},
                              {p::Record(p::DottedName("ns.test"), 28, Packet(16, 0)), p::Opt(1232, 1, 0, 0x8000)},
                              p::ReplyFlags2(p::RCODE_NXDOMAIN));
  const auto message = vbDNS::ReadMessage(packet);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->Header().ID, 12345);
  EXPECT_EQ(message->Header().ARCount, 2) << "the header as sent";
  EXPECT_TRUE(message->HasQuestion());
  EXPECT_EQ(message->QuestionType(), 255);
  EXPECT_EQ(message->QuestionClass(), 1);
  EXPECT_EQ(message->Records(Section::Answer).size(), 1u);
  EXPECT_EQ(message->Records(Section::Authority).size(), 1u);
  ASSERT_EQ(message->Records(Section::Additional).size(), 1u) << "OPT is not listed";
  EXPECT_EQ(message->AllRecords().size(), 3u);
  EXPECT_EQ(message->Records(Section::Authority)[0].Type, 6);
  EXPECT_EQ(message->Records(Section::Additional)[0].Type, 28);
  ASSERT_TRUE(message->Edns());
  vbDNS::EdnsInfo edns = *message->Edns();
  EXPECT_EQ(edns.OptionsLength, 0u);
  edns.OptionsOffset = 0;
  EXPECT_EQ(edns, (vbDNS::EdnsInfo{1232, 1, 0, 0x8000}));
  EXPECT_EQ(message->Rcode(), 0x13) << "NXDOMAIN's 3 and the extended 1 above it";
  EXPECT_EQ(vbDNS::RcodeMnemonic(message->Rcode()), "BADMODE");
  const Packet badVersion = Reply({}, {}, {p::Opt(512, 1)});
  EXPECT_EQ(vbDNS::RcodeMnemonic(vbDNS::ReadMessage(badVersion)->Rcode()), "BADVERS");

  const Packet options = p::Join({p::U16(10), p::U16(8), Repeat(8, 7), p::U16(12), p::U16(0)});  // cookie, padding
  EXPECT_TRUE(Reads(Reply({}, {}, {p::Opt(4096, 0, 0, 0, options)})));
  const Packet overrun = p::Join({p::U16(10), p::U16(9), Repeat(8, 7)});
  EXPECT_FALSE(Reads(Reply({}, {}, {p::Opt(4096, 0, 0, 0, overrun)}))) << "option past the data";
  EXPECT_FALSE(Reads(Reply({}, {}, {p::Opt(4096, 0, 0, 0, {0, 10, 0})}))) << "option header cut";
  EXPECT_FALSE(Reads(Reply({}, {}, {p::Opt(4096), p::Opt(4096)}))) << "two OPT records";
  EXPECT_FALSE(Reads(Reply({p::Opt(4096)}))) << "OPT among the answers";
  EXPECT_FALSE(Reads(Reply({}, {p::Opt(4096)}))) << "OPT in the authority section";
  EXPECT_FALSE(Reads(Reply({}, {}, {p::Record(p::Pointer(12), 41, {})}))) << "OPT owned by a name";
  const Packet noOpt = Reply({});
  EXPECT_FALSE(vbDNS::ReadMessage(noOpt).value().Edns()) << "no OPT, no EDNS";
}

TEST(MessageSections, MalformedAsAWhole) {
  const Packet good = Reply({p::Record(p::Pointer(12), 1, {1, 2, 3, 4}), p::Record(p::Pointer(12), 16, {1, 'x'})});
  ASSERT_TRUE(vbDNS::ReadMessage(good));
  for (std::size_t size = 0; size < good.size(); ++size) {
    EXPECT_FALSE(vbDNS::ReadMessage(vbDNS::PacketView(good.data(), size))) << "cut to " << size;
  }
  Packet trailing = good;
  trailing.push_back(0xFF);
  EXPECT_TRUE(vbDNS::ReadMessage(trailing)) << "octets after the counted records are ignored";

  // A bad second record takes the first with it: no partial answers.
  const Packet badSecond = Reply({p::Record(p::Pointer(12), 1, {1, 2, 3, 4}), p::Record(p::Pointer(12), 1, {1, 2, 3})});
  EXPECT_FALSE(vbDNS::ReadMessage(badSecond));

  Packet twoQuestions = good;
  twoQuestions[5] = 2;
  EXPECT_FALSE(vbDNS::ReadMessage(twoQuestions));
  Packet countsTooHigh = good;
  countsTooHigh[6] = 0xFF;  // ANCount 65282
  EXPECT_FALSE(vbDNS::ReadMessage(countsTooHigh));

  // Longer than any DNS message: its offsets would not fit 16 bits.
  Packet huge = good;
  huge.resize(vbDNS::MAX_MESSAGE_SIZE, 0);
  EXPECT_TRUE(vbDNS::ReadMessage(huge)) << "65535 octets, the last ones ignored";
  huge.push_back(0);
  EXPECT_FALSE(vbDNS::ReadMessage(huge));

  // No question: the records follow the header.
  const Packet noQuestion = p::Join({p::MessageHeader(0, 1, 0, 0), p::Record(p::Name({}), 1, {1, 2, 3, 4})});
  const auto message = vbDNS::ReadMessage(noQuestion);
  ASSERT_TRUE(message);
  EXPECT_FALSE(message->HasQuestion());
  EXPECT_EQ(AnswerTexts(*message), std::vector<std::string>{"1.2.3.4"});
}

TEST(MessageSections, ManyRecordsInPlaceAndOnTheHeap) {
  for (const std::size_t count : {vbDNS::RECORDS_IN_PLACE, vbDNS::RECORDS_IN_PLACE + 1, std::size_t{300}}) {
    SCOPED_TRACE(count);
    std::vector<Packet> answers, additional;
    for (std::size_t i = 0; i < count; ++i) {
      answers.push_back(p::Record(p::Pointer(12), 1, {10, 0, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)}));
    }
    additional.push_back(p::Opt(4096));
    const Packet packet = Reply(answers, {}, additional);
    auto message = vbDNS::ReadMessage(packet);
    ASSERT_TRUE(message);
    ASSERT_EQ(message->Records(Section::Answer).size(), count);
    EXPECT_EQ(message->Records(Section::Additional).size(), 0u);
    const vbDNS::Message copy = *message;
    vbDNS::Message moved = std::move(*message);
    for (const vbDNS::Message* m : {&copy, static_cast<const vbDNS::Message*>(&moved)}) {
      const auto records = m->Records(Section::Answer);
      ASSERT_EQ(records.size(), count);
      EXPECT_EQ(vbDNS::DataText(*m, records.back()),
                "10.0." + std::to_string((count - 1) >> 8) + "." + std::to_string((count - 1) & 0xFF));
    }
    vbDNS::Message assigned;
    assigned = copy;
    EXPECT_EQ(assigned.Records(Section::Answer).size(), count);
  }
}

TEST(MessageNames, Mnemonics) {
  EXPECT_EQ(vbDNS::TypeMnemonic(1), "A");
  EXPECT_EQ(vbDNS::TypeMnemonic(257), "CAA");
  EXPECT_EQ(vbDNS::TypeMnemonic(65534), "TYPE65534");
  EXPECT_EQ(vbDNS::TypeFromMnemonic("mx"), 15);
  EXPECT_EQ(vbDNS::TypeFromMnemonic("Nsap-Ptr"), 23);
  EXPECT_EQ(vbDNS::TypeFromMnemonic("type65534"), 65534);
  EXPECT_EQ(vbDNS::TypeFromMnemonic("TYPE1"), 1);
  const std::pair<const char*, std::uint16_t> tableRows[] = {
      {"svcb", 64},   {"HTTPS", 65},     {"uri", 256},        {"DNSKEY", 48},      {"cdnskey", 60}, {"DS", 43},
      {"cds", 59},    {"RRSIG", 46},     {"nsec", 47},        {"NSEC3", 50},       {"nsec3param", 51},
      {"OPENPGPKEY", 61}, {"smimea", 53}, {"LOC", 29}};
  for (const auto& [mnemonic, type] : tableRows) {
    EXPECT_EQ(vbDNS::TypeFromMnemonic(mnemonic), type) << mnemonic;
    EXPECT_TRUE(vbDNS::FindTypeRow(type, vbDNS::CLASS_IN)) << mnemonic << " has a row";
  }
  for (const char* refused : {"", "TYPE", "TYPE0", "TYPE65536", "TYPE-1", "TYPE 1", "A ", "BOGUS", "TYPE1x"}) {
    EXPECT_FALSE(vbDNS::TypeFromMnemonic(refused)) << refused;
  }
  EXPECT_EQ(vbDNS::RcodeMnemonic(0), "NOERROR");
  EXPECT_EQ(vbDNS::RcodeMnemonic(3), "NXDOMAIN");
  EXPECT_EQ(vbDNS::RcodeMnemonic(11), "DSOTYPENI");
  EXPECT_EQ(vbDNS::RcodeMnemonic(12), "RCODE12");
  EXPECT_EQ(vbDNS::RcodeMnemonic(23), "BADCOOKIE");
  EXPECT_EQ(vbDNS::RcodeMnemonic(4095), "RCODE4095");
  EXPECT_EQ(vbDNS::ClassMnemonic(1), "IN");
  EXPECT_EQ(vbDNS::ClassMnemonic(3), "CH");
  EXPECT_EQ(vbDNS::ClassMnemonic(65280), "CLASS65280");
}

TEST(Questions, BuildQuestionOfAnyType) {
  const auto mx = vbDNS::BuildQuestion(15, "Example.ORG.");
  ASSERT_TRUE(mx);
  vbDNS::QueryDatagram datagram;
  const std::size_t size = vbDNS::EncodeQuery(*mx, 0x1234, datagram);
  const Packet expected = p::Join({{0x12, 0x34, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0},  // ID, RD, QD 1
                                   p::DottedName("Example.ORG"), p::U16(15), p::U16(1)});
  EXPECT_EQ(Packet(datagram.begin(), datagram.begin() + static_cast<std::ptrdiff_t>(size)), expected);

  const auto root = vbDNS::BuildQuestion(2, ".");
  ASSERT_TRUE(root);
  EXPECT_EQ(root->Question.QName.view(), std::string_view("\0", 1));
  EXPECT_EQ(vbDNS::BuildQuestion(65535, "1.2.3.4")->Question.QName.view(), std::string_view("\1" "1\1" "2\1" "3\1" "4\0", 9))
      << "no reverse conversion";
  for (const char* refused : {"", "a..b", ".a", ".."}) EXPECT_FALSE(vbDNS::BuildQuestion(1, refused)) << refused;
  EXPECT_FALSE(vbDNS::BuildQuestion(0, "example.org"));
  EXPECT_FALSE(vbDNS::BuildQuestion(1, std::string(64, 'a')));
}

TEST(Questions, ReverseNames) {
  EXPECT_EQ(vbDNS::ReverseName("192.0.2.1"), "1.2.0.192.in-addr.arpa");
  EXPECT_EQ(vbDNS::ReverseName("010.0.0.255"), "255.0.0.10.in-addr.arpa");
  EXPECT_EQ(vbDNS::ReverseName("2001:db8::567:89ab"),
            "b.a.9.8.7.6.5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa");
  EXPECT_EQ(vbDNS::ReverseName("::"), Hex("0.", 32) + "ip6.arpa");
  EXPECT_EQ(vbDNS::ReverseName("::FFFF:1.2.3.4"),
            "4.0.3.0.2.0.1.0.f.f.f.f.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.ip6.arpa");
  EXPECT_EQ(vbDNS::ReverseName("1:2:3:4:5:6:7:8"),
            "8.0.0.0.7.0.0.0.6.0.0.0.5.0.0.0.4.0.0.0.3.0.0.0.2.0.0.0.1.0.0.0.ip6.arpa");
  for (const char* refused : {"", "1.2.3", "1.2.3.256", "host.example", ":::", "1::2::3", "1:2:3:4:5:6:7:8:9",
                              "12345::", "1:2:3:4:5:6:7", "::1.2.3", "1.2.3.4::", "fe80::1%eth0", "::g", ":1::",
                              "1::2:"}) {
    EXPECT_EQ(vbDNS::ReverseName(refused), "") << refused;
  }
}

}  // namespace
