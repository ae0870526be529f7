// The codec's check of a reply against its query, the respelling of names,
// and DNS over TCP's length prefix.
#include <gtest/gtest.h>

#include "codec/reply_check.h"
#include "packets.h"

namespace vavizav::testing {
namespace {

using namespace vavizav::packets;

vbDNS::DNSQuestion Sent(std::string_view wire) {
  vbDNS::DNSQuestion question;
  question.QName.assign(wire);
  question.QType = vbDNS::TYPE_A;
  question.QClass = vbDNS::CLASS_IN;
  return question;
}

const vbDNS::DNSQuestion MIXED = Sent(std::string_view("\4HosT\7olDDepT\7eXample\0", 22));

vbDNS::Packet ReplyTo(std::uint16_t id, const vbDNS::Packet& name, std::uint8_t flags1 = REPLY_FLAGS1) {
  return Join({U16(id), {flags1, ReplyFlags2(RCODE_NXDOMAIN)}, U16(1), U16(0), U16(0), U16(0),
               Question(name, vbDNS::TYPE_A)});
}

TEST(ReplyCheck, TellsMatchEchoTruncationAndRcode) {
  const vbDNS::Packet exact = ReplyTo(7, Name({"HosT", "olDDepT", "eXample"}), REPLY_FLAGS1 | vbDNS::FLAG_TC);
  vbDNS::ReplyCheck check = vbDNS::CheckReply(exact, 7, MIXED);
  EXPECT_EQ(check.Fit, vbDNS::ReplyFit::Matches);
  EXPECT_EQ(check.Echo, vbDNS::NameEcho::Exact);
  EXPECT_TRUE(check.Truncated);
  EXPECT_EQ(check.RCode, RCODE_NXDOMAIN);
  EXPECT_EQ(check.Header.QDCount, 1u);

  check = vbDNS::CheckReply(ReplyTo(7, Name({"host", "olddept", "example"})), 7, MIXED);
  EXPECT_EQ(check.Fit, vbDNS::ReplyFit::Matches);
  EXPECT_EQ(check.Echo, vbDNS::NameEcho::Folded);

  EXPECT_EQ(vbDNS::CheckReply(ReplyTo(8, Name({"host", "olddept", "example"})), 7, MIXED).Fit,
            vbDNS::ReplyFit::Mismatch);
  EXPECT_EQ(vbDNS::CheckReply(ReplyTo(7, Name({"host", "olddept", "example"}), vbDNS::FLAG_RD), 7, MIXED).Fit,
            vbDNS::ReplyFit::Mismatch);
  EXPECT_EQ(vbDNS::CheckReply(ReplyTo(7, Name({"other", "olddept", "example"})), 7, MIXED).Fit,
            vbDNS::ReplyFit::Mismatch);
  EXPECT_EQ(vbDNS::CheckReply(ReplyTo(7, Name({"host", "olddept"})), 7, MIXED).Fit, vbDNS::ReplyFit::Mismatch);
  // A pointer as the question's name leads into the header: no match.
  EXPECT_EQ(vbDNS::CheckReply(ReplyTo(7, Pointer(2)), 7, MIXED).Fit, vbDNS::ReplyFit::Unreadable);

  vbDNS::Packet cut = exact;
  cut.resize(20);
  EXPECT_EQ(vbDNS::CheckReply(cut, 7, MIXED).Fit, vbDNS::ReplyFit::Unreadable);
  cut.resize(5);
  EXPECT_EQ(vbDNS::CheckReply(cut, 7, MIXED).Fit, vbDNS::ReplyFit::Unreadable);
  EXPECT_FALSE(vbDNS::ReplyId(vbDNS::PacketView(cut).first(1)));
  EXPECT_EQ(vbDNS::ReplyId(cut), 7);

  const vbDNS::Packet questionless =
      Join({U16(7), {REPLY_FLAGS1, ReplyFlags2(RCODE_SERVFAIL)}, U16(0), U16(0), U16(0), U16(0)});
  check = vbDNS::CheckReply(questionless, 7, MIXED);
  EXPECT_EQ(check.Fit, vbDNS::ReplyFit::Matches);
  EXPECT_EQ(check.Echo, vbDNS::NameEcho::Absent);
  EXPECT_EQ(check.RCode, RCODE_SERVFAIL);
}

// A DNAME's synthesized CNAME keeps the labels of the question as it was
// sent: after respelling, no name the caller reads carries the random case.
TEST(ReplyCheck, RespellsTheQuestionOwnersAndSynthesizedTargets) {
  const vbDNS::Packet name = Name({"HosT", "olDDepT", "eXample"});
  vbDNS::Packet reply = Join({
      U16(7), {REPLY_FLAGS1, ReplyFlags2()}, U16(1), U16(3), U16(0), U16(0),
      Question(name, vbDNS::TYPE_A),                                        // 12: the question, as sent
      Record(Name({"olddept", "example"}), 39, Name({"newdept", "example"})),  // the DNAME, the server's spelling
      Record(Pointer(12), vbDNS::TYPE_CNAME, Join({Octets("\4HosT"), Name({"newdept", "example"})})),
      Record(Join({Octets("\4HosT"), Name({"newdept", "example"})}), vbDNS::TYPE_A, {192, 0, 2, 7}),
  });
  vbDNS::Packet expected = reply;
  vbDNS::RespellReply(reply, MIXED.QName, Sent(std::string_view("\4host\7olddept\7example\0", 22)).QName);
  const std::string text(reply.begin(), reply.end());
  EXPECT_EQ(text.find("HosT"), std::string::npos);
  EXPECT_EQ(text.find("olDDepT"), std::string::npos);
  EXPECT_NE(text.find("\4host\7olddept\7example"), std::string::npos);
  EXPECT_EQ(reply.size(), expected.size());
  // Only letters' case changed.
  for (std::size_t i = 0; i < reply.size(); ++i) EXPECT_EQ(reply[i] | 0x20, expected[i] | 0x20) << i;

  // A server's own spelling of another name stays; a cut reply is left as far as it goes.
  vbDNS::Packet own = Join({U16(7), {REPLY_FLAGS1, ReplyFlags2()}, U16(1), U16(1), U16(0), U16(0),
                            Question(name, vbDNS::TYPE_A),
                            Record(Pointer(12), vbDNS::TYPE_CNAME, Name({"HOST", "Elsewhere"}))});
  vbDNS::RespellReply(own, MIXED.QName, Sent(std::string_view("\4host\7olddept\7example\0", 22)).QName);
  EXPECT_NE(std::string(own.begin(), own.end()).find("\4HOST\11Elsewhere"), std::string::npos);
  own.resize(own.size() - 5);
  vbDNS::RespellReply(own, MIXED.QName, MIXED.QName);
}

TEST(ReplyCheck, StreamLengthBothWays) {
  const vbDNS::DNSQuery query = *vbDNS::BuildQuestion(vbDNS::TYPE_A, "a.example");
  vbDNS::StreamQuery out;
  const std::size_t size = vbDNS::EncodeStreamQuery(query, 9, out);
  ASSERT_EQ(size, 2u + 12u + 11u + 4u);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], size - 2);
  std::array<std::uint8_t, 10> small{};
  EXPECT_EQ(vbDNS::EncodeStreamQuery(query, 9, small), 0u);

  const vbDNS::Packet message = ReplyTo(9, Name({"a", "example"}));
  const vbDNS::Packet framed = Join({U16(static_cast<std::uint16_t>(message.size())), message, {0xEE}});
  vbDNS::StreamMessage in;
  std::size_t taken = 0;
  for (std::size_t i = 0; i < framed.size(); ++i) taken += in.Feed(vbDNS::PacketView(framed).subspan(i, 1));
  EXPECT_TRUE(in.Complete());
  EXPECT_EQ(taken, framed.size() - 1);  // nothing past the message
  EXPECT_EQ(in.Message(), message);

  vbDNS::StreamMessage tooShort;
  tooShort.Feed(U16(11));
  EXPECT_TRUE(tooShort.Refused());
}

}  // namespace
}  // namespace vavizav::testing
