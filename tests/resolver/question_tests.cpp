// The Resolver class's turn from what a script gave to a question, and from
// how an exchange ended to the status a script reads: numbers as types, names
// as questions, each refusal's LastError text, the typed status and its text,
// and every end of an exchange with and without a reply.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "packets.h"
#include "resolver/outcome.h"
#include "resolver/question.h"
#include "resolver/status.h"

namespace vavizav {
namespace {

using namespace packets;
using vbDNS::Packet;

TEST(QuestionTypeFromNumber, WholeNumbersFromOneTo65535) {
  EXPECT_EQ(resolver::QuestionTypeFromNumber(1), 1);
  EXPECT_EQ(resolver::QuestionTypeFromNumber(15), 15);
  EXPECT_EQ(resolver::QuestionTypeFromNumber(65535), 65535);
  for (const double refused : {0.0, -1.0, 65536.0, 2.5, 1e300, -0.5, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(resolver::QuestionTypeFromNumber(refused)) << refused;
  }
}

TEST(QuestionForName, EmptyNamesAndWhatTheCodecRefusesAskNothing) {
  EXPECT_FALSE(resolver::QuestionForName("", vbDNS::TYPE_A));
  EXPECT_FALSE(resolver::QuestionForName("a..b", vbDNS::TYPE_A));
  EXPECT_FALSE(resolver::QuestionForName(std::string(64, 'a') + ".test", vbDNS::TYPE_A));
  const std::optional<vbDNS::DNSQuery> mx = resolver::QuestionForName("corp.test", 15);
  ASSERT_TRUE(mx);
  EXPECT_EQ(mx->Question.QType, 15);
  // For PTR an address asks its reverse name.
  const std::optional<vbDNS::DNSQuery> ptr = resolver::QuestionForName("192.0.2.1", vbDNS::TYPE_PTR);
  ASSERT_TRUE(ptr);
  EXPECT_EQ(ptr->Question.QName.view(), std::string_view("\x01" "1\x01" "2\x01" "0\x03" "192\x07in-addr\x04" "arpa\x00", 24));
}

TEST(RefusalText, EachRefusalInTheWordsLastErrorShows) {
  const std::u16string hint = u" is not a DNS type: give a mnemonic such as \"MX\" or a number from 1 to 65535";
  EXPECT_EQ(resolver::RefusalText(resolver::Refusal::TypeNumberOutOfRange, u"0"), u"Type 0" + hint);
  EXPECT_EQ(resolver::RefusalText(resolver::Refusal::TypeNumberUnreadable, u"ignored"), u"Type" + hint);
  EXPECT_EQ(resolver::RefusalText(resolver::Refusal::TypeWithoutText, u"Invalid use of Null"),
            u"Type: Invalid use of Null");
  EXPECT_EQ(resolver::RefusalText(resolver::Refusal::TypeNotAType, u"BOGUS"), u"Type \"BOGUS\"" + hint);
  EXPECT_EQ(resolver::RefusalText(resolver::Refusal::NameWithoutText, u"Type mismatch"), u"Name: Type mismatch");
  EXPECT_EQ(resolver::RefusalText(resolver::Refusal::NameCannotBeAsked, u"a..b\u00e9"),
            u"Name \"a..b\u00e9\" cannot be asked: it is empty, has an empty label, a label over 63 octets, is over "
            u"255 octets in all, or IDNA refuses it");
}

TEST(AnswerStatus, TextOnlyAtTheEdgeRcodesByTheirMnemonics) {
  EXPECT_EQ(resolver::StatusText(resolver::NOERROR_STATUS), "NOERROR");
  EXPECT_EQ(resolver::StatusText(resolver::RcodeStatus(3)), "NXDOMAIN");
  EXPECT_EQ(resolver::StatusText(resolver::RcodeStatus(16)), "BADVERS");  // extended by EDNS
  EXPECT_EQ(resolver::StatusText(resolver::RcodeStatus(4000)), "RCODE4000");
  EXPECT_EQ(resolver::StatusText(resolver::TRUNCATED_STATUS), "TRUNCATED");
  EXPECT_EQ(resolver::StatusText(resolver::TIMEOUT_STATUS), "TIMEOUT");
  EXPECT_EQ(resolver::StatusText(resolver::NOSERVER_STATUS), "NOSERVER");
  EXPECT_EQ(resolver::StatusText(resolver::BADNAME_STATUS), "BADNAME");
  EXPECT_EQ(resolver::StatusText(resolver::MALFORMED_STATUS), "MALFORMED");
  EXPECT_TRUE(resolver::RcodeStatus(2).FromReply());
  EXPECT_TRUE(resolver::TRUNCATED_STATUS.FromReply());
  for (const resolver::AnswerStatus none :
       {resolver::TIMEOUT_STATUS, resolver::NOSERVER_STATUS, resolver::BADNAME_STATUS, resolver::MALFORMED_STATUS}) {
    EXPECT_FALSE(none.FromReply()) << none;
  }
  EXPECT_NE(resolver::RcodeStatus(2), resolver::RcodeStatus(3));
}

vbDNS::DNSQuery Ask(std::string_view name) {
  std::optional<vbDNS::DNSQuery> query = resolver::QuestionForName(name, vbDNS::TYPE_A);
  EXPECT_TRUE(query);
  return query.value_or(vbDNS::DNSQuery{});
}

// A reply to an A question for `name` with one address, flags as given.
Packet AddressReply(std::string_view name, std::uint8_t flags1 = REPLY_FLAGS1, std::uint8_t flags2 = ReplyFlags2()) {
  Packet reply = Join({Header(1, flags2), Question(DottedName(name), vbDNS::TYPE_A),
                       Record(Pointer(vbDNS::HEADER_SIZE), vbDNS::TYPE_A, {192, 0, 2, 1})});
  reply[2] = flags1;
  return reply;
}

TEST(JudgeExchange, EveryEndWithAndWithoutItsReply) {
  const vbDNS::DNSQuery asked = Ask("one.test");
  const resolver::AnswerModel answered =
      resolver::JudgeExchange(resolver::ExchangeEnd::Answered, AddressReply("one.test"), asked);
  EXPECT_EQ(answered.Status, resolver::NOERROR_STATUS);
  ASSERT_EQ(answered.Records.size(), 1u);
  EXPECT_EQ(answered.CanonicalName, "one.test.");

  // A cut reply that says NOERROR is no verdict; an error code in it stands.
  const std::uint8_t cut = REPLY_FLAGS1 | vbDNS::FLAG_TC;
  const resolver::AnswerModel truncated =
      resolver::JudgeExchange(resolver::ExchangeEnd::TruncatedTcpFailed, AddressReply("one.test", cut), asked);
  EXPECT_EQ(truncated.Status, resolver::TRUNCATED_STATUS);
  EXPECT_EQ(truncated.Records.size(), 1u);
  EXPECT_EQ(resolver::JudgeExchange(resolver::ExchangeEnd::TruncatedTcpFailed,
                                    AddressReply("one.test", cut, ReplyFlags2(RCODE_SERVFAIL)), asked)
                .Status,
            resolver::RcodeStatus(RCODE_SERVFAIL));

  // A reply that cannot be read is no reply: no server is named for it.
  const resolver::AnswerModel unreadable =
      resolver::JudgeExchange(resolver::ExchangeEnd::Answered, Packet{0x30, 0x39}, asked);
  EXPECT_EQ(unreadable.Status, resolver::MALFORMED_STATUS);
  EXPECT_FALSE(unreadable.Status.FromReply());

  struct Case {
    resolver::ExchangeEnd End;
    resolver::AnswerStatus Status;
  };
  for (const Case c : {Case{resolver::ExchangeEnd::Answered, resolver::TIMEOUT_STATUS},
                       Case{resolver::ExchangeEnd::TruncatedTcpFailed, resolver::TIMEOUT_STATUS},
                       Case{resolver::ExchangeEnd::TimedOut, resolver::TIMEOUT_STATUS},
                       Case{resolver::ExchangeEnd::NoUsableServer, resolver::NOSERVER_STATUS},
                       Case{resolver::ExchangeEnd::NothingSent, resolver::NOSERVER_STATUS},
                       Case{resolver::ExchangeEnd::Malformed, resolver::MALFORMED_STATUS}}) {
    const resolver::AnswerModel none = resolver::JudgeExchange(c.End, std::nullopt, asked);
    EXPECT_EQ(none.Status, c.Status) << static_cast<int>(c.End);
    EXPECT_TRUE(none.Records.empty());
    EXPECT_EQ(none.CanonicalName, "");
  }
}

}  // namespace
}  // namespace vavizav
