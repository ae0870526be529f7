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
  EXPECT_EQ(QuestionTypeFromNumber(1), 1);
  EXPECT_EQ(QuestionTypeFromNumber(15), 15);
  EXPECT_EQ(QuestionTypeFromNumber(65535), 65535);
  for (const double refused : {0.0, -1.0, 65536.0, 2.5, 1e300, -0.5, std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(QuestionTypeFromNumber(refused)) << refused;
  }
}

TEST(RefusalText, EachRefusalInTheWordsLastErrorShows) {
  const std::u16string hint = u" is not a DNS type: give a mnemonic such as \"MX\" or a number from 1 to 65535";
  EXPECT_EQ(RefusalText(Refusal::TypeNumberOutOfRange, u"0"), u"Type 0" + hint);
  EXPECT_EQ(RefusalText(Refusal::TypeNumberUnreadable, u"ignored"), u"Type" + hint);
  EXPECT_EQ(RefusalText(Refusal::TypeWithoutText, u"Invalid use of Null"), u"Type: Invalid use of Null");
  EXPECT_EQ(RefusalText(Refusal::TypeNotAType, u"BOGUS"), u"Type \"BOGUS\"" + hint);
  EXPECT_EQ(RefusalText(Refusal::NameWithoutText, u"Type mismatch"), u"Name: Type mismatch");
}

TEST(AnswerStatus, TextOnlyAtTheEdgeRcodesByTheirMnemonics) {
  EXPECT_EQ(StatusText(NOERROR_STATUS), "NOERROR");
  EXPECT_EQ(StatusText(RcodeStatus(3)), "NXDOMAIN");
  EXPECT_EQ(StatusText(RcodeStatus(16)), "BADVERS");  // extended by EDNS
  EXPECT_EQ(StatusText(RcodeStatus(4000)), "RCODE4000");
  EXPECT_EQ(StatusText(TRUNCATED_STATUS), "TRUNCATED");
  EXPECT_EQ(StatusText(TIMEOUT_STATUS), "TIMEOUT");
  EXPECT_EQ(StatusText(NOSERVER_STATUS), "NOSERVER");
  EXPECT_EQ(StatusText(BADNAME_STATUS), "BADNAME");
  EXPECT_EQ(StatusText(MALFORMED_STATUS), "MALFORMED");
  EXPECT_TRUE(RcodeStatus(2).FromReply());
  EXPECT_TRUE(TRUNCATED_STATUS.FromReply());
  for (const AnswerStatus none : {TIMEOUT_STATUS, NOSERVER_STATUS, BADNAME_STATUS, MALFORMED_STATUS}) {
    EXPECT_FALSE(none.FromReply()) << none;
  }
  EXPECT_NE(RcodeStatus(2), RcodeStatus(3));
}

vbDNS::DNSQuery Ask(std::string_view name) {
  std::optional<vbDNS::DNSQuery> query = vbDNS::BuildQuestion(vbDNS::TYPE_A, name);
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
  const AnswerModel answered = JudgeExchange(ExchangeEnd::Answered, AddressReply("one.test"), asked);
  EXPECT_EQ(answered.Status, NOERROR_STATUS);
  ASSERT_EQ(answered.Records.size(), 1u);
  EXPECT_EQ(answered.CanonicalName, "one.test.");

  // A cut reply that says NOERROR is no verdict; an error code in it stands.
  const std::uint8_t cut = REPLY_FLAGS1 | vbDNS::FLAG_TC;
  const AnswerModel truncated = JudgeExchange(ExchangeEnd::TruncatedTcpFailed, AddressReply("one.test", cut), asked);
  EXPECT_EQ(truncated.Status, TRUNCATED_STATUS);
  EXPECT_EQ(truncated.Records.size(), 1u);
  EXPECT_EQ(JudgeExchange(ExchangeEnd::TruncatedTcpFailed,
                          AddressReply("one.test", cut, ReplyFlags2(RCODE_SERVFAIL)), asked).Status,
            RcodeStatus(RCODE_SERVFAIL));

  // A reply that cannot be read is no reply: no server is named for it.
  const AnswerModel unreadable = JudgeExchange(ExchangeEnd::Answered, Packet{0x30, 0x39}, asked);
  EXPECT_EQ(unreadable.Status, MALFORMED_STATUS);
  EXPECT_FALSE(unreadable.Status.FromReply());

  struct Case {
    ExchangeEnd End;
    AnswerStatus Status;
  };
  for (const Case c : {Case{ExchangeEnd::Answered, TIMEOUT_STATUS}, Case{ExchangeEnd::TruncatedTcpFailed, TIMEOUT_STATUS},
                       Case{ExchangeEnd::TimedOut, TIMEOUT_STATUS}, Case{ExchangeEnd::NoUsableServer, NOSERVER_STATUS},
                       Case{ExchangeEnd::NothingSent, NOSERVER_STATUS}, Case{ExchangeEnd::Malformed, MALFORMED_STATUS}}) {
    const AnswerModel none = JudgeExchange(c.End, std::nullopt, asked);
    EXPECT_EQ(none.Status, c.Status) << static_cast<int>(c.End);
    EXPECT_TRUE(none.Records.empty());
    EXPECT_EQ(none.CanonicalName, "");
  }
}

}  // namespace
}  // namespace vavizav
