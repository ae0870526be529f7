// ReadMessage: the whole reply, checked once, kept as places in the packet.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <utility>

#include "codec/message.h"
#include "codec/names.h"
#include "codec/record_rows.h"
#include "codec/record_table.h"
#include "codec/wire_reader.h"

namespace vbDNS {

using detail::Get16;
using detail::Get32;
using detail::ROW;
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

// A name that must stand uncompressed (RFC 4034 section 6.2, RFC 9460
// section 2.2): labels only, ending in the root, inside the data.
void CheckPlainName(WireReader& rdata, NameRef& where) {
  where.Offset = static_cast<std::uint16_t>(rdata.Offset());
  std::size_t wireLength = 1;
  for (std::uint8_t length = rdata.U8(); rdata.Ok() && length != 0; length = rdata.U8()) {
    wireLength += 1u + length;
    if (length > MAX_LABEL || wireLength > MAX_NAME_WIRE) {
      rdata.Fail();
      return;
    }
    rdata.Skip(length);
  }
}

// NSEC and NSEC3 type bitmaps (RFC 4034 section 4.1.2): window blocks in
// ascending order, each of 1 to 32 octets whose last is not zero, filling the
// data. NSEC3 may have none (an empty non-terminal), NSEC not.
bool TypeBitmapFits(WireReader& rdata, bool mayBeEmpty) {
  int lastWindow = -1;
  while (rdata.Ok() && rdata.Left() != 0) {
    const std::array<std::uint8_t, 2> head = rdata.Fixed<2>();
    const PacketView bits = rdata.Bytes(head[1]);
    if (!rdata.Ok() || head[0] <= lastWindow || head[1] == 0 || head[1] > 32 || bits.back() == 0) return false;
    lastWindow = head[0];
  }
  return rdata.Ok() && (mayBeEmpty || lastWindow >= 0);
}

// RFC 9460 section 2.2: keys strictly ascending, each value inside the data,
// the values of the keys RFC 9460 defines well formed, the keys mandatory
// lists present.
bool SvcParamsFit(WireReader& rdata) {
  const WireReader all = rdata;
  std::optional<WireReader> mandatory;
  int lastKey = -1;
  while (rdata.Ok() && rdata.Left() != 0) {
    const std::array<std::uint8_t, 4> head = rdata.Fixed<4>();
    const std::uint16_t key = Get16<0>(head);
    const std::size_t length = Get16<2>(head);
    WireReader value = rdata.Sub(length);
    if (!rdata.Ok() || key <= lastKey) return false;
    lastKey = key;
    switch (key) {
      case 0:  // mandatory: keys, ascending, one at least, not itself
        if (length == 0 || length % 2 != 0) return false;
        mandatory = value;
        for (int last = 0; value.Left() != 0;) {
          const std::uint16_t listed = Get16<0>(value.Fixed<2>());
          if (listed <= last) return false;
          last = listed;
        }
        break;
      case 1:  // alpn: protocol ids of 1 octet or more, one at least
        if (length == 0) return false;
        while (value.Ok() && value.Left() != 0) {
          const std::uint8_t idLength = value.U8();
          if (idLength == 0) return false;
          value.Skip(idLength);
        }
        if (!value.Ok()) return false;
        break;
      case 2:  // no-default-alpn: no value
        if (length != 0) return false;
        break;
      case 3:  // port
        if (length != 2) return false;
        break;
      case 4:  // ipv4hint: addresses, one at least
        if (length == 0 || length % 4 != 0) return false;
        break;
      case 6:  // ipv6hint
        if (length == 0 || length % 16 != 0) return false;
        break;
      default:  // ech and unknown keys: octets
        break;
    }
  }
  if (!rdata.Ok()) return false;
  // Every key mandatory lists stands in the record (RFC 9460 section 8).
  while (mandatory && mandatory->Left() != 0) {
    const std::uint16_t listed = Get16<0>(mandatory->Fixed<2>());
    bool present = false;
    for (WireReader params = all; !present && params.Left() != 0;) {
      const std::array<std::uint8_t, 4> head = params.Fixed<4>();
      present = Get16<0>(head) == listed;
      params.Skip(Get16<2>(head));
    }
    if (!present) return false;
  }
  return true;
}

// LOC version 0 (RFC 1876 section 2): a size or precision is a mantissa and
// a power of ten, each 0 to 9, the mantissa 0 only in 0 itself (as dig has
// it); the position within the globe.
bool LocPrecisionFits(std::uint8_t octet) {
  return octet == 0 || ((octet >> 4) >= 1 && (octet >> 4) <= 9 && (octet & 0x0F) <= 9);
}
constexpr std::uint32_t EQUATOR = 0x80000000u;
constexpr std::uint32_t DEGREE = 3600000u;

// What a row's check finds: whether the data fits, whether it is typed (LOC
// of another version is octets), where its first two names start. Returned
// by value, so that the record being read stays in registers.
struct Layout {
  NameRef Names[2];
  bool Typed = false;
  bool Fits = false;
};

// Checks one field of a layout; `previous` is the value of the number before
// it (a digest's type). False: the record does not fit its type, or (the
// caller asks once, after the last field) the reader failed.
// Inlined into each row's check with `kind` a constant, so that the switch
// falls away and a row checks as a hand-written layout would.
[[gnu::always_inline]] inline bool FieldFits(FieldKind kind, WireReader& rdata, Layout& layout, std::size_t& names,
                                             detail::KnownNames& known, std::uint32_t& previous, std::uint16_t type,
                                             std::uint16_t rdataOffset) {
  switch (kind) {
    case FieldKind::U8:
    case FieldKind::LocPrecision: {
      const std::uint8_t value = rdata.U8();
      previous = value;
      return kind == FieldKind::U8 || LocPrecisionFits(value);
    }
    case FieldKind::U16:
    case FieldKind::Type:
      previous = Get16<0>(rdata.Fixed<2>());
      return true;
    case FieldKind::U32:
    case FieldKind::Timestamp:
    case FieldKind::LocAltitude:
      previous = Get32<0>(rdata.Fixed<4>());
      return true;
    case FieldKind::LocLatitude:
    case FieldKind::LocLongitude: {
      const std::uint32_t value = Get32<0>(rdata.Fixed<4>());
      const std::uint32_t limit = (kind == FieldKind::LocLatitude ? 90 : 180) * DEGREE;
      return value >= EQUATOR - limit && value <= EQUATOR + limit;
    }
    case FieldKind::LocVersion:
      rdata.Skip(1);  // 0: checked before the layout is read
      return true;
    case FieldKind::Name:
    case FieldKind::PlainName: {
      NameRef ignored;
      NameRef& where = names < std::size(layout.Names) ? layout.Names[names] : ignored;
      ++names;
      if (kind == FieldKind::Name) CheckDataName(rdata, where, known);
      else CheckPlainName(rdata, where);
      return true;
    }
    case FieldKind::CharString:
      SkipCharacterString(rdata);
      return true;
    case FieldKind::CharStrings:
      // One or more character-strings (RFC 1035 section 3.3.14).
      if (rdata.Left() == 0) return false;
      while (rdata.Ok() && rdata.Left() != 0) SkipCharacterString(rdata);
      return true;
    case FieldKind::Tag: {
      // 1 or more letters and digits (RFC 8659 section 4.1).
      const std::uint8_t tagLength = rdata.U8();
      const PacketView tag = rdata.Bytes(tagLength);
      return tagLength != 0 && std::all_of(tag.begin(), tag.end(), IsAlphanumeric);
    }
    case FieldKind::IPv4:
      rdata.Skip(4);
      return true;
    case FieldKind::IPv6:
      rdata.Skip(16);
      return true;
    case FieldKind::QuotedToEnd:
      rdata.Skip(rdata.Left());
      return true;
    case FieldKind::HexToEnd:
    case FieldKind::Base64ToEnd:
      // 1 octet or more: dig refuses empty TLSA data, keys and signatures.
      if (rdata.Left() == 0) return false;
      rdata.Skip(rdata.Left());
      return true;
    case FieldKind::DsDigest: {
      // Of its length where the digest type has one, else 1 octet or more.
      const std::size_t expected = DsDigestLength(static_cast<std::uint8_t>(previous));
      if (expected == 0 ? rdata.Left() == 0 : rdata.Left() != expected) return false;
      rdata.Skip(rdata.Left());
      return true;
    }
    case FieldKind::SshfpDigest: {
      const std::size_t expected = SshfpFingerprintLength(static_cast<std::uint8_t>(previous));
      if (expected != 0 && rdata.Left() != expected) return false;
      rdata.Skip(rdata.Left());
      return true;
    }
    case FieldKind::Salt:
      SkipCharacterString(rdata);
      return true;
    case FieldKind::HashedName: {
      // 1 octet or more; a SHA-1 hash (algorithm 1, the data's first octet) is 20.
      const std::uint8_t algorithm = rdata.At(rdataOffset).U8();
      const std::uint8_t length = rdata.U8();
      rdata.Skip(length);
      return length != 0 && (algorithm != 1 || length == 20);
    }
    case FieldKind::TypeBitmap:
      return TypeBitmapFits(rdata, type != TYPE_NSEC);
    case FieldKind::SvcParams:
      return SvcParamsFit(rdata);
  }
  return false;
}

// Checks the data against row R of the record table and notes where its
// names start. The reader is bounded by RDLENGTH; the layout must fill it
// exactly. False: the message is malformed. Made for each row when compiled.
template <std::size_t R>
[[gnu::always_inline]] inline Layout CheckRow(WireReader& rdata, detail::KnownNames& known,
                                              const ResourceRecord& record) {
  Layout layout;
  if constexpr (ROW<R>.ClassInOnly) {
    if (record.Class != CLASS_IN) {
      layout.Fits = true;  // octets
      return layout;
    }
  }
  layout.Typed = true;
  if constexpr (ROW<R>.PlainFields == ROW<R>.Count) {
    // Numbers and addresses alone (A, AAAA): one length check.
    layout.Fits = record.RDataLength == ROW<R>.PlainOctets;
    return layout;
  }
  if constexpr (ROW<R>.Fields[0].Kind == FieldKind::LocVersion) {
    // LOC of a version other than 0 has no layout (RFC 1876 section 2): octets.
    WireReader version = rdata;
    const std::uint8_t number = version.U8();
    if (!version.Ok() || number != 0) {
      layout.Typed = false;
      layout.Fits = version.Ok();  // not even a version: malformed
      return layout;
    }
  }
  // Leading numbers and addresses: one length check for all of them.
  if constexpr (ROW<R>.PlainOctets != 0) rdata.Skip(ROW<R>.PlainOctets);
  std::size_t names = 0;
  std::uint32_t previous = 0;
  const bool fits = [&]<std::size_t... F>(std::index_sequence<F...>) {
    return (FieldFits(ROW<R>.Fields[ROW<R>.PlainFields + F].Kind, rdata, layout, names, known, previous, ROW<R>.Type,
                      record.RDataOffset) &&
            ...);
  }(std::make_index_sequence<ROW<R>.Count - ROW<R>.PlainFields - ROW<R>.PlainTailFields>{});
  if constexpr (ROW<R>.PlainTailOctets != 0) rdata.Skip(ROW<R>.PlainTailOctets);  // trailing numbers: one check
  // A failed read anywhere fails the reader for good: asked once here.
  layout.Fits = fits && rdata.Ok() && rdata.Left() == 0;
  return layout;
}

// The check of the row of the record's type, if it has one: every row's
// check inlined behind a comparison of the type, which the compiler makes
// into one jump as for a switch. False: no row (the data is octets).
template <std::size_t... R>
[[gnu::always_inline]] inline bool CheckTypeRow(WireReader& rdata, detail::KnownNames& known,
                                                const ResourceRecord& record, Layout& layout,
                                                std::index_sequence<R...>) {
  return ((record.Type == ROW<R>.Type && (layout = CheckRow<R>(rdata, known, record), true)) || ...);
}

struct PlainRow {
  std::uint8_t Length = 0;  // 0: not a row of numbers and addresses alone
  bool ClassInOnly = false;
};
constexpr std::array<PlainRow, INDEXED_TYPES> PLAIN_ROWS = [] {
  std::array<PlainRow, INDEXED_TYPES> rows{};
  for (const TypeRow& row : detail::ROWS) {
    if (row.PlainFields == row.Count) rows[row.Type] = {row.PlainOctets, row.ClassInOnly};
  }
  return rows;
}();

// Checks a record's data against its type's row, notes where its names
// start and whether it is typed (its type has a row, for its class). The
// reader is bounded by RDLENGTH; the layout must fill it exactly. False: the
// message is malformed.
bool ReadLayout(WireReader& rdata, ResourceRecord& record, detail::KnownNames& known) {
  // Rows of numbers and addresses alone (A, AAAA), the most frequent: their
  // length, looked up at once.
  if (record.Type < INDEXED_TYPES) {
    const PlainRow plain = PLAIN_ROWS[record.Type];
    if (plain.Length != 0 && (!plain.ClassInOnly || record.Class == CLASS_IN)) {
      record.Typed = true;
      return record.RDataLength == plain.Length;
    }
  }
  Layout layout;
  if (!CheckTypeRow(rdata, known, record, layout, std::make_index_sequence<std::size(detail::ROWS)>{})) return true;
  record.DataNames[0] = layout.Names[0];
  record.DataNames[1] = layout.Names[1];
  record.Typed = layout.Typed;
  return layout.Fits;
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
                                   static_cast<std::uint16_t>(record.TTL & 0xFFFF), record.RDataOffset,
                                   record.RDataLength};
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
