// ReadMessage: the whole reply, checked once, kept as places in the packet.
#include <algorithm>
#include <array>
#include <cstring>

#include "codec/message.h"
#include "codec/names.h"
#include "codec/wire_reader.h"

namespace vbDNS {

using detail::Get16;
using detail::Get32;
using detail::WireReader;

Message::Message(const Message& other)
    : packet_(other.packet_),
      header_(other.header_),
      questionName_(other.questionName_),
      questionType_(other.questionType_),
      questionClass_(other.questionClass_),
      edns_(other.edns_),
      count_(other.count_),
      heap_(other.heap_) {
  std::copy(std::begin(other.sectionEnd_), std::end(other.sectionEnd_), sectionEnd_);
  if (heap_.empty() && count_ != 0) std::memcpy(slots_.records, other.slots_.records, count_ * sizeof(ResourceRecord));
}

Message& Message::operator=(const Message& other) {
  if (this != &other) {
    Message copy(other);
    *this = std::move(copy);
  }
  return *this;
}

// A move is the move assignment onto an empty Message: one place copies the
// in-place records and leaves the source empty.
Message::Message(Message&& other) noexcept : Message() { *this = std::move(other); }

Message& Message::operator=(Message&& other) noexcept {
  if (this != &other) {
    packet_ = other.packet_;
    header_ = other.header_;
    questionName_ = other.questionName_;
    questionType_ = other.questionType_;
    questionClass_ = other.questionClass_;
    edns_ = other.edns_;
    count_ = other.count_;
    heap_ = std::move(other.heap_);
    std::copy(std::begin(other.sectionEnd_), std::end(other.sectionEnd_), sectionEnd_);
    if (heap_.empty() && count_ != 0) std::memcpy(slots_.records, other.slots_.records, count_ * sizeof(ResourceRecord));
    other.heap_.clear();
    other.count_ = 0;
    std::fill(std::begin(other.sectionEnd_), std::end(other.sectionEnd_), 0u);
  }
  return *this;
}

std::uint16_t Message::Rcode() const noexcept {
  const std::uint16_t low = header_.Flags2 & RCODE_MASK;
  return edns_ ? static_cast<std::uint16_t>(edns_->ExtendedRcode << 4 | low) : low;
}

std::span<const ResourceRecord> Message::Records(Section section) const noexcept {
  const auto index = static_cast<std::size_t>(section);
  if (index > 2) return {};
  const std::uint32_t begin = index == 0 ? 0 : sectionEnd_[index - 1];
  return {Data() + begin, sectionEnd_[index] - begin};
}

namespace {

// Smallest record: a root owner, TYPE to RDLENGTH, no data.
constexpr std::size_t MIN_RECORD_SIZE = 11;

// An OPT record's data: options, each a code, a length and that many octets,
// filling the data exactly (RFC 6891 section 6.1.2).
bool OptionsFit(WireReader& rdata) {
  while (rdata.Ok() && rdata.Left() != 0) {
    const std::array<std::uint8_t, 4> option = rdata.Fixed<4>();
    rdata.Skip(Get16<2>(option));
  }
  return rdata.Ok();
}

// Names inside the data of every typed type are followed through compression
// pointers. RFC 3597 section 4 asks it of receivers for the RFC 1035 types
// (NS CNAME SOA PTR MX) and for SRV and NAPTR; DNAME (RFC 6672) is not to be
// sent compressed, but dig and ldns both accept it compressed, and so does
// this reader rather than refuse a whole reply dig shows.
void CheckDataName(WireReader& rdata, NameRef& where, detail::KnownNames& known) {
  where.Offset = static_cast<std::uint16_t>(rdata.Offset());
  detail::CheckName(rdata, known);
}

void SkipCharacterString(WireReader& rdata) { rdata.Skip(rdata.U8()); }

bool IsAlphanumeric(std::uint8_t c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

// Digest lengths of the DS digest types and SSHFP fingerprint types that have
// one (RFC 4509, RFC 6605, RFC 4255, RFC 6594); 0 for the others.
std::size_t DsDigestLength(std::uint8_t digestType) {
  switch (digestType) {
    case 1: return 20;  // SHA-1
    case 2: return 32;  // SHA-256
    case 4: return 48;  // SHA-384
    default: return 0;
  }
}
std::size_t SshfpFingerprintLength(std::uint8_t fingerprintType) {
  switch (fingerprintType) {
    case 1: return 20;
    case 2: return 32;
    default: return 0;
  }
}

// Checks the data against its type's layout and notes where its names start.
// The reader is bounded by RDLENGTH; the layout must fill it exactly. False:
// the message is malformed.
bool ReadLayout(WireReader& rdata, ResourceRecord& record, detail::KnownNames& known) {
  record.DataNames[0] = {};
  record.DataNames[1] = {};
  record.Typed = true;
  const std::uint16_t length = record.RDataLength;
  const bool in = record.Class == CLASS_IN;
  switch (record.Type) {
    case TYPE_A:
      if (!in) break;
      return length == 4;
    case TYPE_AAAA:
      if (!in) break;
      return length == 16;
    case TYPE_NS:
    case TYPE_CNAME:
    case TYPE_PTR:
    case TYPE_DNAME:
      CheckDataName(rdata, record.DataNames[0], known);
      return rdata.Ok() && rdata.Left() == 0;
    case TYPE_MX:
      rdata.Skip(2);
      CheckDataName(rdata, record.DataNames[0], known);
      return rdata.Ok() && rdata.Left() == 0;
    case TYPE_TXT:
    case TYPE_SPF:
      // One or more character-strings (RFC 1035 section 3.3.14).
      if (length == 0) return false;
      while (rdata.Ok() && rdata.Left() != 0) SkipCharacterString(rdata);
      return rdata.Ok();
    case TYPE_SRV:
      if (!in) break;
      rdata.Skip(6);
      CheckDataName(rdata, record.DataNames[0], known);
      return rdata.Ok() && rdata.Left() == 0;
    case TYPE_SOA:
      CheckDataName(rdata, record.DataNames[0], known);
      CheckDataName(rdata, record.DataNames[1], known);
      rdata.Skip(20);
      return rdata.Ok() && rdata.Left() == 0;
    case TYPE_CAA: {
      // Flags, a tag of 1 or more letters and digits, the value to the end
      // (RFC 8659 section 4.1).
      rdata.Skip(1);
      const std::uint8_t tagLength = rdata.U8();
      const PacketView tag = rdata.Bytes(tagLength);
      return rdata.Ok() && tagLength != 0 && std::all_of(tag.begin(), tag.end(), IsAlphanumeric);
    }
    case TYPE_NAPTR:
      if (!in) break;
      rdata.Skip(4);
      SkipCharacterString(rdata);  // flags
      SkipCharacterString(rdata);  // services
      SkipCharacterString(rdata);  // regexp
      CheckDataName(rdata, record.DataNames[0], known);
      return rdata.Ok() && rdata.Left() == 0;
    case TYPE_HINFO:
      SkipCharacterString(rdata);  // CPU
      SkipCharacterString(rdata);  // OS
      return rdata.Ok() && rdata.Left() == 0;
    case TYPE_SSHFP: {
      // Algorithm, fingerprint type, the fingerprint: of its digest's length
      // where the type has one.
      const std::array<std::uint8_t, 2> fixed = rdata.Fixed<2>();
      const std::size_t expected = SshfpFingerprintLength(fixed[1]);
      return rdata.Ok() && (expected == 0 || rdata.Left() == expected);
    }
    case TYPE_TLSA:
      // Usage, selector, matching type, association data of 1 octet or more
      // (dig refuses an empty one).
      return length >= 4;
    case TYPE_DS: {
      // Key tag, algorithm, digest type, the digest: of its length where the
      // digest type has one, else of 1 octet or more (as dig has it).
      const std::array<std::uint8_t, 4> fixed = rdata.Fixed<4>();
      const std::size_t expected = DsDigestLength(fixed[3]);
      return rdata.Ok() && (expected == 0 ? rdata.Left() != 0 : rdata.Left() == expected);
    }
    default:
      break;
  }
  record.Typed = false;
  return true;
}

}  // namespace

// Friend of Message: fills one in place.
struct MessageBuilder {
  static bool Read(PacketView packet, ReadScope scope, Message& message) {
    // Offsets are kept in 16 bits: no DNS message is longer (RFC 1035
    // section 4.2.2, the TCP length).
    if (packet.size() > MAX_MESSAGE_SIZE) return false;
    WireReader in(packet);
    message.packet_ = packet;
    message.header_ = detail::ReadHeader(in);
    const DNSHeader& header = message.header_;
    if (!in.Ok() || header.QDCount > 1) return false;

    detail::KnownNames known;
    if (header.QDCount == 1) {
      message.questionName_.Offset = static_cast<std::uint16_t>(in.Offset());
      detail::CheckName(in, known);
      const std::array<std::uint8_t, 4> fixed = in.Fixed<4>();
      message.questionType_ = Get16<0>(fixed);
      message.questionClass_ = Get16<2>(fixed);
      if (!in.Ok()) return false;
    }

    // AnswerOctets: the answer section alone (message.h).
    const bool whole = scope == ReadScope::Whole;
    const std::uint16_t counts[3] = {header.ANCount, whole ? header.NSCount : std::uint16_t{0},
                                     whole ? header.ARCount : std::uint16_t{0}};
    const std::uint32_t counted = std::uint32_t{counts[0]} + counts[1] + counts[2];
    if (counted > (packet.size() - in.Offset()) / MIN_RECORD_SIZE) return false;  // cannot all be there
    // In place up to RECORDS_IN_PLACE; the first record past them moves all
    // to the heap, sized for every record counted.
    ResourceRecord* out = message.slots_.records;
    std::uint32_t kept = 0;
    for (int section = 0; section < 3; ++section) {
      for (std::uint16_t i = 0; i < counts[section]; ++i) {
        ResourceRecord record;
        record.Owner.Offset = static_cast<std::uint16_t>(in.Offset());
        detail::CheckName(in, known);
        // TYPE, CLASS, TTL, RDLENGTH.
        const std::array<std::uint8_t, 10> fixed = in.Fixed<10>();
        record.Type = Get16<0>(fixed);
        record.Class = Get16<2>(fixed);
        record.TTL = Get32<4>(fixed);
        record.RDataLength = Get16<8>(fixed);
        record.RDataOffset = static_cast<std::uint16_t>(in.Offset());
        WireReader rdata = in.Sub(record.RDataLength);
        if (!in.Ok()) return false;
        if (whole && record.Type == TYPE_OPT) {
          // Metadata, not a record: once, in the additional section, owned by the root.
          if (section != 2 || message.edns_ || packet[record.Owner.Offset] != 0 || !OptionsFit(rdata)) return false;
          message.edns_ = EdnsInfo{record.Class, static_cast<std::uint8_t>(record.TTL >> 24),
                                   static_cast<std::uint8_t>(record.TTL >> 16 & 0xFF),
                                   static_cast<std::uint16_t>(record.TTL & 0xFFFF)};
          continue;
        }
        // AnswerOctets: the data stays octets, the record untyped.
        if (whole && !ReadLayout(rdata, record, known)) return false;
        if (kept == RECORDS_IN_PLACE) {
          message.heap_.resize(counted);
          std::copy(out, out + kept, message.heap_.begin());
          out = message.heap_.data();
        }
        out[kept++] = record;
      }
      message.sectionEnd_[section] = kept;
    }
    message.count_ = kept;
    if (!message.heap_.empty()) message.heap_.resize(kept);  // less an OPT: never a reallocation
    return true;
  }
};

std::optional<Message> ReadMessage(PacketView packet) { return ReadMessage(packet, ReadScope::Whole); }

std::optional<Message> ReadMessage(PacketView packet, ReadScope scope) {
  std::optional<Message> message(std::in_place);
  if (!MessageBuilder::Read(packet, scope, *message)) message.reset();
  return message;
}

}  // namespace vbDNS
