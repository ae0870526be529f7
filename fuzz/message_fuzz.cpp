// Feeds arbitrary datagrams to the whole-reply reader and makes the text and
// fields of everything it accepts, checking what an accepted message
// promises: every name re-walks as a valid name from where it is recorded,
// texts are printable, and the first class's narrower read (ReadScope::
// AnswerOctets) accepts it as well, with the same answer records.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "codec/message.h"
#include "codec/names.h"
#include "codec/vbdns.h"
#include "codec/wire_reader.h"

namespace {

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void RequireName(const vbDNS::Message& message, vbDNS::NameRef name) {
  // The reader's shortcuts over names it knew must accept exactly what a
  // plain walk accepts.
  vbDNS::detail::WireReader in = vbDNS::detail::WireReader(message.Packet()).At(name.Offset);
  vbDNS::detail::SkipName(in);
  Require(in.Ok(), "a recorded name walks as a valid name");
  const std::string text = vbDNS::NameTextOf(message, name);
  Require(!text.empty() && text.back() == '.', "name text is absolute");
  Require(text.size() <= 4 * vbDNS::MAX_NAME_WIRE, "name text length");
  for (const char c : text) Require(c >= 0x21 && c <= 0x7E, "name text printable, no blank");
  const vbDNS::WireName wire = vbDNS::NameWire(message, name);
  Require(!wire.empty() && wire.size() <= vbDNS::MAX_NAME_WIRE, "wire name length");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const vbDNS::PacketView packet(data, size);
  const auto message = vbDNS::ReadMessage(packet);
  if (!message) return 0;

  const auto answers = vbDNS::ReadMessage(packet, vbDNS::ReadScope::AnswerOctets);
  Require(answers.has_value(), "the first class's read accepts it too");
  const auto whole = message->Records(vbDNS::Section::Answer);
  const auto narrow = answers->Records(vbDNS::Section::Answer);
  Require(narrow.size() == whole.size(), "the same answer records");  // an OPT among answers is refused whole
  for (std::size_t i = 0; i < whole.size(); ++i) {
    Require(narrow[i].Owner == whole[i].Owner && narrow[i].Type == whole[i].Type &&
                narrow[i].Class == whole[i].Class && narrow[i].TTL == whole[i].TTL &&
                narrow[i].RDataOffset == whole[i].RDataOffset && narrow[i].RDataLength == whole[i].RDataLength,
            "the same answer record");
    Require(!narrow[i].Typed, "the first class's read leaves data as octets");
  }
  Require(answers->Records(vbDNS::Section::Authority).empty() && answers->Records(vbDNS::Section::Additional).empty(),
          "the first class's read stops after the answers");
  const vbDNS::DNSHeader& header = message->Header();
  Require(header.QDCount <= 1, "at most one question");
  if (message->HasQuestion()) RequireName(*message, message->QuestionName());
  std::size_t listed = 0;
  for (const auto section : {vbDNS::Section::Answer, vbDNS::Section::Authority, vbDNS::Section::Additional}) {
    listed += message->Records(section).size();
  }
  Require(listed == message->AllRecords().size(), "sections partition the records");
  Require(listed + (message->Edns() ? 1 : 0) ==
              std::size_t{header.ANCount} + header.NSCount + header.ARCount,
          "every counted record read, OPT aside");
  Require(message->Rcode() < 4096, "12-bit RCODE");

  const vbDNS::Message copy = *message;
  for (const vbDNS::ResourceRecord& record : copy.AllRecords()) {
    Require(record.Type != vbDNS::TYPE_OPT, "OPT never listed");
    Require(std::size_t{record.RDataOffset} + record.RDataLength <= size, "data inside the packet");
    RequireName(copy, record.Owner);
    for (const vbDNS::NameRef name : record.DataNames) {
      if (name.Offset != 0) RequireName(copy, name);
    }
    const std::string text = vbDNS::DataText(copy, record);
    for (const char c : text) Require(c >= 0x20 && c <= 0x7E, "data text printable");
    if (!record.Typed) Require(text.starts_with("\\# "), "untyped data in RFC 3597 form");
    const vbDNS::RecordFields fields = vbDNS::Fields(copy, record);
    if (record.Type == vbDNS::TYPE_A && record.Typed) Require(fields.Address == text, "A text is its address");
    // Every member through the table: present exactly where the type's row shows it.
    for (std::size_t m = 0; m < vbDNS::MEMBER_COUNT; ++m) {
      const auto member = static_cast<vbDNS::Member>(m);
      const vbDNS::MemberValue value = vbDNS::ValueOf(fields, member);
      Require(!record.Typed ? value.Is == vbDNS::MemberValue::Kind::Empty : true, "octets show no member");
    }
    (void)vbDNS::TypeMnemonic(record.Type);
    (void)vbDNS::ClassMnemonic(record.Class);
  }
  (void)vbDNS::RcodeMnemonic(message->Rcode());
  return 0;
}
