// Presentation text and typed fields of a Message, made when asked. Every
// record was checked against its type's layout by ReadMessage, so the reads
// here cannot fail; they still go through the bounded reader.
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <type_traits>
#include <utility>
#include <variant>

#include "codec/ipv6_text.h"
#include "codec/message.h"
#include "codec/names.h"
#include "codec/record_rows.h"
#include "codec/record_table.h"
#include "codec/wire_reader.h"

namespace vbDNS {

namespace {

using detail::Get16;
using detail::Get32;
using detail::ROW;
using detail::WireReader;

void AppendDecimalEscape(std::string& out, std::uint8_t octet) {
  const char escape[4] = {'\\', static_cast<char>('0' + octet / 100), static_cast<char>('0' + octet / 10 % 10),
                          static_cast<char>('0' + octet % 10)};
  out.append(escape, 4);
}

WireReader ReaderAt(const Message& message, std::size_t offset) { return WireReader(message.Packet()).At(offset); }

// Names print through the codec's one table of label escapes (names.cpp).
void AppendName(std::string& out, const Message& message, NameRef name) {
  WireReader in = ReaderAt(message, name.Offset);
  detail::AppendNameText(out, in, NameStyle::Zone);
}

void AppendUnsigned(std::string& out, std::uint32_t value) {
  char digits[10];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, result.ptr);
}

// A character-string (RFC 1035 section 3.3) quoted: '"' and '\' take a
// backslash, octets outside 0x20..0x7E are \DDD, blanks stay.
void AppendQuoted(std::string& out, PacketView octets) {
  out += '"';
  for (const std::uint8_t octet : octets) {
    if (octet < 0x20 || octet > 0x7E) {
      AppendDecimalEscape(out, octet);
      continue;
    }
    if (octet == '"' || octet == '\\') out += '\\';
    out += static_cast<char>(octet);
  }
  out += '"';
}

PacketView CharacterString(WireReader& rdata) { return rdata.Bytes(rdata.U8()); }

void AppendHex(std::string& out, PacketView octets) {
  static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
  const std::size_t at = out.size();
  out.resize(at + 2 * octets.size());
  char* p = out.data() + at;
  for (const std::uint8_t octet : octets) {
    *p++ = HEX_DIGITS[octet >> 4];
    *p++ = HEX_DIGITS[octet & 0xF];
  }
}

std::string_view AsText(PacketView octets) { return {reinterpret_cast<const char*>(octets.data()), octets.size()}; }

WireReader DataReader(const Message& message, const ResourceRecord& record) {
  WireReader whole(message.Packet());
  WireReader in = whole.At(record.RDataOffset);
  return in.Sub(record.RDataLength);
}

std::string NameString(const Message& message, NameRef name) {
  std::string text;
  AppendName(text, message, name);
  return text;
}

void AppendAddress(std::string& out, PacketView data) {
  if (data.size() == 4) {
    out += IPToText(std::span<const std::uint8_t, 4>(data.data(), 4));
    return;
  }
  char text[detail::MAX_IPV6_TEXT];
  out.append(text, detail::PutIPv6Text(text, std::span<const std::uint8_t, 16>(data.data(), 16)));
}

std::string AddressText(PacketView data) {
  std::string text;
  AppendAddress(text, data);
  return text;
}

struct TypeName {
  std::uint16_t Type;
  const char* Mnemonic;
};
// IANA's registry, as dig names them.
constexpr TypeName TYPE_NAMES[] = {
    {1, "A"},          {2, "NS"},        {3, "MD"},         {4, "MF"},          {5, "CNAME"},      {6, "SOA"},
    {7, "MB"},         {8, "MG"},        {9, "MR"},         {10, "NULL"},       {11, "WKS"},       {12, "PTR"},
    {13, "HINFO"},     {14, "MINFO"},    {15, "MX"},        {16, "TXT"},        {17, "RP"},        {18, "AFSDB"},
    {19, "X25"},       {20, "ISDN"},     {21, "RT"},        {22, "NSAP"},       {23, "NSAP-PTR"},  {24, "SIG"},
    {25, "KEY"},       {26, "PX"},       {27, "GPOS"},      {28, "AAAA"},       {29, "LOC"},       {30, "NXT"},
    {31, "EID"},       {32, "NIMLOC"},   {33, "SRV"},       {34, "ATMA"},       {35, "NAPTR"},     {36, "KX"},
    {37, "CERT"},      {38, "A6"},       {39, "DNAME"},     {40, "SINK"},       {41, "OPT"},       {42, "APL"},
    {43, "DS"},        {44, "SSHFP"},    {45, "IPSECKEY"},  {46, "RRSIG"},      {47, "NSEC"},      {48, "DNSKEY"},
    {49, "DHCID"},     {50, "NSEC3"},    {51, "NSEC3PARAM"}, {52, "TLSA"},      {53, "SMIMEA"},    {55, "HIP"},
    {56, "NINFO"},     {57, "RKEY"},     {58, "TALINK"},    {59, "CDS"},        {60, "CDNSKEY"},   {61, "OPENPGPKEY"},
    {62, "CSYNC"},     {63, "ZONEMD"},   {64, "SVCB"},      {65, "HTTPS"},      {99, "SPF"},       {100, "UINFO"},
    {101, "UID"},      {102, "GID"},     {103, "UNSPEC"},   {104, "NID"},       {105, "L32"},      {106, "L64"},
    {107, "LP"},       {108, "EUI48"},   {109, "EUI64"},    {249, "TKEY"},      {250, "TSIG"},     {251, "IXFR"},
    {252, "AXFR"},     {253, "MAILB"},   {254, "MAILA"},    {255, "ANY"},       {256, "URI"},      {257, "CAA"},
    {258, "AVC"},      {259, "DOA"},     {260, "AMTRELAY"}, {32768, "TA"},      {32769, "DLV"},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// "PREFIXnnn" with nnn a decimal 0..65535 (no sign, no blanks).
std::optional<std::uint16_t> NumberAfter(std::string_view text, std::string_view prefix) {
  if (text.size() <= prefix.size() || text.size() > prefix.size() + 5 ||
      !EqualNoCase(text.substr(0, prefix.size()), prefix)) {
    return std::nullopt;
  }
  std::uint32_t value = 0;
  for (const char c : text.substr(prefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::string NameTextOf(const Message& message, NameRef name) { return NameString(message, name); }

WireName NameWire(const Message& message, NameRef name) {
  WireReader in = ReaderAt(message, name.Offset);
  WireName wire;
  detail::ReadName(in, wire);
  return wire;
}

namespace {

constexpr char BASE64_DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char BASE32HEX_DIGITS[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";

// RFC 4648 section 4, with padding.
void AppendBase64(std::string& out, PacketView octets) {
  std::size_t i = 0;
  for (; i + 3 <= octets.size(); i += 3) {
    const std::uint32_t group = std::uint32_t{octets[i]} << 16 | std::uint32_t{octets[i + 1]} << 8 | octets[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out += BASE64_DIGITS[group >> shift & 0x3F];
  }
  const std::size_t left = octets.size() - i;
  if (left == 0) return;
  const std::uint32_t group = std::uint32_t{octets[i]} << 16 | (left == 2 ? std::uint32_t{octets[i + 1]} << 8 : 0u);
  out += BASE64_DIGITS[group >> 18 & 0x3F];
  out += BASE64_DIGITS[group >> 12 & 0x3F];
  out += left == 2 ? BASE64_DIGITS[group >> 6 & 0x3F] : '=';
  out += '=';
}

// RFC 4648 section 7 without padding, as NSEC3 owners are written (RFC 5155
// section 3.3).
void AppendBase32Hex(std::string& out, PacketView octets) {
  std::uint32_t buffer = 0;
  int bits = 0;
  for (const std::uint8_t octet : octets) {
    buffer = (buffer << 8 | octet) & 0xFFFF;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      out += BASE32HEX_DIGITS[buffer >> bits & 0x1F];
    }
  }
  if (bits > 0) out += BASE32HEX_DIGITS[buffer << (5 - bits) & 0x1F];
}

// RFC 4034 section 3.1.5: the times are serial numbers (RFC 1982), read as
// the instant nearest `now` within 68 years, as dig reads them. Seconds since
// 1970, before it for a value far ahead of now.
std::int64_t NearestInstant(std::uint32_t serial, std::int64_t now) {
  return now + static_cast<std::int32_t>(serial - static_cast<std::uint32_t>(now));
}
std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// YYYYMMDDHHMMSS in UTC (the proleptic Gregorian calendar from days since
// 1970, negative ones included).
void AppendTimestamp(std::string& out, std::int64_t seconds) {
  std::int64_t days = seconds / 86400, second = seconds % 86400;
  if (second < 0) {
    second += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[24];
  const int written = std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", static_cast<int>(year),
                                    static_cast<int>(month), static_cast<int>(day), static_cast<int>(second / 3600),
                                    static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
  out.append(text, static_cast<std::size_t>(written));
}

// The types of an NSEC or NSEC3 bitmap, ascending (RFC 4034 section 4.1.2).
void AppendTypes(std::string& out, PacketView bitmap) {
  for (std::size_t at = 0; at + 2 <= bitmap.size();) {
    const std::size_t window = bitmap[at], length = bitmap[at + 1];
    for (std::size_t i = 0; i < length && at + 2 + i < bitmap.size(); ++i) {
      for (int bit = 0; bit < 8; ++bit) {
        if ((bitmap[at + 2 + i] & (0x80 >> bit)) == 0) continue;
        if (!out.empty() && out.back() != ' ') out += ' ';
        out += TypeMnemonic(static_cast<std::uint16_t>(window << 8 | i << 3 | static_cast<unsigned>(bit)));
      }
    }
    at += 2 + length;
  }
}

// The SvcParamKeys of RFC 9460 section 14.3.2, as dig names them; the others
// are "keyNNNNN".
void AppendSvcKey(std::string& out, std::uint16_t key) {
  static constexpr const char* KEYS[] = {"mandatory", "alpn", "no-default-alpn", "port", "ipv4hint", "ech", "ipv6hint"};
  if (key < std::size(KEYS)) {
    out += KEYS[key];
    return;
  }
  out += "key";
  AppendUnsigned(out, key);
}

// An alpn value: the protocol ids quoted as one string, joined by ','. A ','
// or '\' inside an id is escaped twice (once for the list, once for the
// string), '"' once, octets outside 0x21..0x7E as \DDD (as dig has it).
void AppendAlpn(std::string& out, PacketView value) {
  out += '"';
  for (std::size_t at = 0; at < value.size();) {
    if (at != 0) out += ',';
    const std::size_t length = value[at++];
    for (std::size_t i = 0; i < length && at < value.size(); ++i, ++at) {
      const std::uint8_t octet = value[at];
      if (octet <= 0x20 || octet > 0x7E) {
        AppendDecimalEscape(out, octet);
      } else if (octet == ',' || octet == '\\') {
        out += "\\\\";
        out += static_cast<char>(octet);
        if (octet == '\\') out += "\\";
      } else {
        if (octet == '"') out += '\\';
        out += static_cast<char>(octet);
      }
    }
  }
  out += '"';
}

void AppendSvcParams(std::string& out, PacketView params) {
  WireReader in(params);
  while (in.Left() >= 4) {
    const auto head = in.Fixed<4>();
    const std::uint16_t key = Get16<0>(head);
    const PacketView value = in.Bytes(Get16<2>(head));
    if (!out.empty()) out += ' ';
    AppendSvcKey(out, key);
    if (value.empty()) continue;  // the key alone, as dig prints it
    switch (key) {
      case 0:
        out += '=';
        for (std::size_t i = 0; i + 2 <= value.size(); i += 2) {
          if (i != 0) out += ',';
          AppendSvcKey(out, static_cast<std::uint16_t>(value[i] << 8 | value[i + 1]));
        }
        break;
      case 1:
        out += '=';
        AppendAlpn(out, value);
        break;
      case 2:
        break;
      case 3:
        out += '=';
        AppendUnsigned(out, static_cast<std::uint32_t>(value[0] << 8 | value[1]));
        break;
      case 4:
      case 6: {
        out += '=';
        const std::size_t width = key == 4 ? 4 : 16;
        for (std::size_t i = 0; i + width <= value.size(); i += width) {
          if (i != 0) out += ',';
          out += AddressText(value.subspan(i, width));
        }
        break;
      }
      case 5:
        out += '=';
        AppendBase64(out, value);
        break;
      default:
        out += '=';
        AppendQuoted(out, value);
        break;
    }
  }
}

// RFC 1876: a size or precision is mantissa * 10^exponent centimetres;
// printed in metres as dig prints them ("10000m", "0.10m").
double LocPrecisionMetres(std::uint8_t octet) {
  double value = octet >> 4;
  for (int i = 0; i < (octet & 0x0F); ++i) value *= 10;
  return value / 100;
}
void AppendLocPrecision(std::string& out, std::uint8_t octet) {
  std::uint32_t value = octet >> 4;
  const int exponent = octet & 0x0F;
  if (exponent >= 2) {
    for (int i = 2; i < exponent; ++i) value *= 10;
    AppendUnsigned(out, value);
  } else {
    for (int i = 0; i < exponent; ++i) value *= 10;
    out += "0.";
    if (value < 10) out += '0';
    AppendUnsigned(out, value);
  }
  out += 'm';
}

constexpr std::uint32_t LOC_EQUATOR = 0x80000000u;
constexpr std::uint32_t LOC_ZERO_ALTITUDE = 10000000u;  // centimetres below the spheroid it counts from

// Degrees, minutes, seconds with thousandths and the hemisphere.
void AppendLocAngle(std::string& out, std::uint32_t value, char positive, char negative) {
  const bool ahead = value >= LOC_EQUATOR;
  std::uint32_t angle = ahead ? value - LOC_EQUATOR : LOC_EQUATOR - value;
  const std::uint32_t thousandths = angle % 1000;
  angle /= 1000;
  char text[32];
  const int written = std::snprintf(text, sizeof text, "%u %u %u.%03u %c", static_cast<unsigned>(angle / 3600),
                                    static_cast<unsigned>(angle / 60 % 60), static_cast<unsigned>(angle % 60),
                                    static_cast<unsigned>(thousandths), ahead ? positive : negative);
  out.append(text, static_cast<std::size_t>(written));
}

void AppendLocAltitude(std::string& out, std::uint32_t value) {
  const bool below = value < LOC_ZERO_ALTITUDE;
  const std::uint32_t centimetres = below ? LOC_ZERO_ALTITUDE - value : value - LOC_ZERO_ALTITUDE;
  if (below) out += '-';
  AppendUnsigned(out, centimetres / 100);
  out += '.';
  if (centimetres % 100 < 10) out += '0';
  AppendUnsigned(out, centimetres % 100);
  out += 'm';
}

// Octets a fixed field spans; 0 for the others.
constexpr std::size_t FixedWidth(FieldKind kind) {
  switch (kind) {
    case FieldKind::U8: case FieldKind::LocVersion: case FieldKind::LocPrecision: return 1;
    case FieldKind::U16: case FieldKind::Type: return 2;
    case FieldKind::U32: case FieldKind::Timestamp: case FieldKind::LocLatitude: case FieldKind::LocLongitude:
    case FieldKind::LocAltitude: return 4;
    default: return 0;
  }
}

// One field of a checked record: reads it off `rdata` and hands what it
// holds to the visitor's calls (a number, text made from the packet, octets,
// a name's place). Text and fields both go through here, so a kind is read
// in one place.
struct FieldReader {
  const Message& message;
  WireReader& rdata;
  bool Last = false;  // the record's last field: nothing is read after it

  std::uint32_t Number(FieldKind kind) {
    switch (FixedWidth(kind)) {
      case 1: return rdata.U8();
      case 2: return Get16<0>(rdata.Fixed<2>());
      default: return Get32<0>(rdata.Fixed<4>());
    }
  }
  NameRef Name() {
    const NameRef where{static_cast<std::uint16_t>(rdata.Offset())};
    if (!Last) detail::SkipName(rdata);
    return where;
  }
  PacketView Rest() { return rdata.Bytes(rdata.Left()); }
};

// Appends one field's text (nothing for a field that prints nothing).
// Inlined into each row's text with `kind` a constant.
[[gnu::always_inline]] inline void AppendField(std::string& out, FieldKind kind, FieldReader& in) {
  switch (kind) {
    case FieldKind::U8:
    case FieldKind::U16:
    case FieldKind::U32:
      AppendUnsigned(out, in.Number(kind));
      return;
    case FieldKind::Type:
      out += TypeMnemonic(static_cast<std::uint16_t>(in.Number(kind)));
      return;
    case FieldKind::Timestamp:
      AppendTimestamp(out, NearestInstant(in.Number(kind), Now()));
      return;
    case FieldKind::Name:
    case FieldKind::PlainName:
      AppendName(out, in.message, in.Name());
      return;
    case FieldKind::CharString:
      AppendQuoted(out, CharacterString(in.rdata));
      return;
    case FieldKind::CharStrings:
      while (in.rdata.Left() != 0) {
        if (!out.empty() && out.back() != ' ') out += ' ';
        AppendQuoted(out, CharacterString(in.rdata));
      }
      return;
    case FieldKind::Tag:
      out.append(AsText(CharacterString(in.rdata)));
      return;
    case FieldKind::QuotedToEnd:
      AppendQuoted(out, in.Rest());
      return;
    case FieldKind::IPv4:
    case FieldKind::IPv6:
      AppendAddress(out, in.rdata.Bytes(kind == FieldKind::IPv4 ? 4 : 16));
      return;
    case FieldKind::HexToEnd:
    case FieldKind::DsDigest:
    case FieldKind::SshfpDigest:
      AppendHex(out, in.Rest());
      return;
    case FieldKind::Base64ToEnd:
      AppendBase64(out, in.Rest());
      return;
    case FieldKind::Salt: {
      const PacketView salt = CharacterString(in.rdata);
      if (salt.empty()) out += '-';
      else AppendHex(out, salt);
      return;
    }
    case FieldKind::HashedName:
      AppendBase32Hex(out, CharacterString(in.rdata));
      return;
    case FieldKind::TypeBitmap: {
      std::string types;
      AppendTypes(types, in.Rest());
      out += types;
      return;
    }
    case FieldKind::SvcParams: {
      std::string params;
      AppendSvcParams(params, in.Rest());
      out += params;
      return;
    }
    case FieldKind::LocVersion:
      in.rdata.Skip(1);
      return;
    case FieldKind::LocPrecision:
      AppendLocPrecision(out, static_cast<std::uint8_t>(in.Number(kind)));
      return;
    case FieldKind::LocLatitude:
      AppendLocAngle(out, in.Number(kind), 'N', 'S');
      return;
    case FieldKind::LocLongitude:
      AppendLocAngle(out, in.Number(kind), 'E', 'W');
      return;
    case FieldKind::LocAltitude:
      AppendLocAltitude(out, in.Number(kind));
      return;
  }
}

// Where each slot of RecordFields is, by member (None and Text have none).
using Slot = std::variant<std::monostate, std::string RecordFields::*, std::vector<std::string> RecordFields::*,
                          std::optional<std::uint8_t> RecordFields::*, std::optional<std::uint16_t> RecordFields::*,
                          std::optional<std::uint32_t> RecordFields::*, std::optional<std::int64_t> RecordFields::*,
                          std::optional<double> RecordFields::*>;
using F = RecordFields;
const Slot SLOTS[] = {
    {}, &F::Address, &F::Target, &F::Preference, &F::Priority, &F::Weight, &F::Port, {}, &F::Strings,
    &F::PrimaryServer, &F::ResponsibleMailbox, &F::Serial, &F::Refresh, &F::Retry, &F::Expire, &F::Minimum,
    &F::Flags, &F::Tag, &F::Value, &F::Order, &F::NaptrFlags, &F::Services, &F::Regexp, &F::KeyTag, &F::Algorithm,
    &F::DigestType, &F::Digest, &F::Usage, &F::Selector, &F::MatchingType, &F::Protocol, &F::PublicKey,
    &F::TypeCovered, &F::Labels, &F::OriginalTTL, &F::Expiration, &F::Inception, &F::SignerName, &F::Signature,
    &F::NextName, &F::Types, &F::Iterations, &F::Salt, &F::NextHashedOwner, &F::Params, &F::Latitude, &F::Longitude,
    &F::Altitude, &F::Size, &F::HorizontalPrecision, &F::VerticalPrecision,
};
static_assert(std::size(SLOTS) == MEMBER_COUNT);

// A field's value: a number, an instant, a real, text or octets.
using FieldValue = std::variant<std::uint32_t, std::int64_t, double, std::string>;

void Store(RecordFields& fields, Member member, FieldValue value) {
  const Slot& slot = SLOTS[static_cast<std::size_t>(member)];
  std::visit(
      [&fields, &value](auto pointer) {
        using Pointer = decltype(pointer);
        if constexpr (std::is_same_v<Pointer, std::string F::*>) {
          if (auto* text = std::get_if<std::string>(&value)) fields.*pointer = std::move(*text);
        } else if constexpr (std::is_same_v<Pointer, std::vector<std::string> F::*>) {
          if (auto* text = std::get_if<std::string>(&value)) (fields.*pointer).push_back(std::move(*text));
        } else if constexpr (!std::is_same_v<Pointer, std::monostate>) {
          using Number = typename std::remove_reference_t<decltype(fields.*pointer)>::value_type;
          std::visit(
              [&](const auto& held) {
                if constexpr (!std::is_same_v<std::decay_t<decltype(held)>, std::string>) {
                  fields.*pointer = static_cast<Number>(held);
                }
              },
              value);
        }
      },
      slot);
  fields.Present |= std::uint64_t{1} << static_cast<unsigned>(member);
}

// Reads one field into its member.
void ReadField(RecordFields& fields, const FieldSpec& field, FieldReader& in) {
  const Member member = field.Shows;
  switch (field.Kind) {
    case FieldKind::U8:
    case FieldKind::U16:
    case FieldKind::U32:
    case FieldKind::Type:
      Store(fields, member, in.Number(field.Kind));
      return;
    case FieldKind::Timestamp:
      Store(fields, member, NearestInstant(in.Number(field.Kind), Now()));
      return;
    case FieldKind::Name:
    case FieldKind::PlainName:
      Store(fields, member, NameString(in.message, in.Name()));
      return;
    case FieldKind::CharString:
    case FieldKind::Tag:
    case FieldKind::Salt:
    case FieldKind::HashedName:
      Store(fields, member, std::string(AsText(CharacterString(in.rdata))));
      return;
    case FieldKind::CharStrings:
      while (in.rdata.Left() != 0) Store(fields, member, std::string(AsText(CharacterString(in.rdata))));
      return;
    case FieldKind::QuotedToEnd:
    case FieldKind::HexToEnd:
    case FieldKind::DsDigest:
    case FieldKind::SshfpDigest:
    case FieldKind::Base64ToEnd:
      Store(fields, member, std::string(AsText(in.Rest())));
      return;
    case FieldKind::IPv4:
    case FieldKind::IPv6:
    case FieldKind::TypeBitmap:
    case FieldKind::SvcParams: {
      std::string text;
      AppendField(text, field.Kind, in);
      Store(fields, member, std::move(text));
      return;
    }
    case FieldKind::LocVersion:
      in.rdata.Skip(1);
      return;
    case FieldKind::LocPrecision:
      Store(fields, member, LocPrecisionMetres(static_cast<std::uint8_t>(in.Number(field.Kind))));
      return;
    case FieldKind::LocLatitude:
    case FieldKind::LocLongitude:
      Store(fields, member, (static_cast<double>(in.Number(field.Kind)) - LOC_EQUATOR) / 3600000.0);
      return;
    case FieldKind::LocAltitude:
      Store(fields, member, (static_cast<double>(in.Number(field.Kind)) - LOC_ZERO_ALTITUDE) / 100.0);
      return;
  }
}

}  // namespace

namespace {

// One field of a row's text: a blank before it unless it is the first, or
// prints nothing.
template <FieldKind Kind>
void AppendSeparated(std::string& out, FieldReader& in) {
  const std::size_t before = out.size();
  if (before != 0) out += ' ';
  const std::size_t start = out.size();
  AppendField(out, Kind, in);
  if (out.size() == start) out.resize(before);  // the field printed nothing
}

// The text of row R's data, made for each row when compiled.
template <std::size_t R>
std::string RowText(const Message& message, const ResourceRecord& record) {
  WireReader rdata = DataReader(message, record);
  FieldReader in{message, rdata};
  std::string out;
  if constexpr (ROW<R>.TextOrder == nullptr) {
    [&]<std::size_t... F>(std::index_sequence<F...>) {
      ((in.Last = F + 1 == ROW<R>.Count, AppendSeparated<ROW<R>.Fields[F].Kind>(out, in)), ...);
    }(std::make_index_sequence<ROW<R>.Count>{});
  } else {
    // Fields printed out of their order (LOC) are all fixed: each one's
    // place is known without reading those before it.
    constexpr auto at = [] {
      std::array<std::size_t, MAX_FIELDS> offsets{};
      for (std::size_t i = 1; i < ROW<R>.Count; ++i) {
        offsets[i] = offsets[i - 1] + FixedWidth(ROW<R>.Fields[i - 1].Kind);
      }
      return offsets;
    }();
    [&]<std::size_t... F>(std::index_sequence<F...>) {
      ((rdata = DataReader(message, record), rdata.Skip(at[ROW<R>.TextOrder[F]]),
        AppendSeparated<ROW<R>.Fields[ROW<R>.TextOrder[F]].Kind>(out, in)),
       ...);
    }(std::make_index_sequence<ROW<R>.Count>{});
  }
  return out;
}

using RowTextMaker = std::string (*)(const Message&, const ResourceRecord&);

template <std::size_t... R>
constexpr std::array<RowTextMaker, INDEXED_TYPES> RowTexts(std::index_sequence<R...>) {
  std::array<RowTextMaker, INDEXED_TYPES> makers{};
  ((makers[detail::ROWS[R].Type] = &RowText<R>), ...);
  return makers;
}
constexpr std::array<RowTextMaker, INDEXED_TYPES> ROW_TEXTS =
    RowTexts(std::make_index_sequence<std::size(detail::ROWS)>{});

}  // namespace

std::string DataText(const Message& message, const ResourceRecord& record) {
  // A record is typed only when its type has a row.
  if (record.Typed) return ROW_TEXTS[record.Type](message, record);
  // RFC 3597 section 5.
  WireReader rdata = DataReader(message, record);
  std::string out = "\\# ";
  AppendUnsigned(out, record.RDataLength);
  if (record.RDataLength != 0) {
    out += ' ';
    AppendHex(out, rdata.Bytes(record.RDataLength));
  }
  return out;
}

RecordFields Fields(const Message& message, const ResourceRecord& record) {
  RecordFields fields;
  const TypeRow* row = record.Typed ? FindTypeRow(record.Type, record.Class) : nullptr;
  if (row == nullptr) return fields;
  WireReader rdata = DataReader(message, record);
  FieldReader in{message, rdata};
  for (std::size_t i = 0; i < row->Count; ++i) {
    in.Last = i + 1 == row->Count;
    ReadField(fields, row->Fields[i], in);
  }
  return fields;
}

MemberValue ValueOf(const RecordFields& fields, Member member) {
  MemberValue value;
  const MemberInfo& info = MemberInfoOf(member);
  const Member source = info.As == Shown::Joined ? Member::Strings : member;
  if (info.Id == Member::None || !fields.Has(source)) return value;
  const Slot& slot = SLOTS[static_cast<std::size_t>(source)];
  std::visit(
      [&](auto pointer) {
        using Pointer = decltype(pointer);
        if constexpr (std::is_same_v<Pointer, std::string F::*>) {
          const std::string& octets = fields.*pointer;
          const PacketView view(reinterpret_cast<const std::uint8_t*>(octets.data()), octets.size());
          value.Is = MemberValue::Kind::Text;
          switch (info.As) {
            case Shown::Hex: AppendHex(value.Text, view); break;
            case Shown::Base64: AppendBase64(value.Text, view); break;
            case Shown::Base32Hex: AppendBase32Hex(value.Text, view); break;
            default: value.Text = octets; break;
          }
        } else if constexpr (std::is_same_v<Pointer, std::vector<std::string> F::*>) {
          if (info.As == Shown::Joined) {
            value.Is = MemberValue::Kind::Text;
            for (const std::string& part : fields.*pointer) value.Text += part;
          } else {
            value.Is = MemberValue::Kind::Strings;
            value.Strings = &(fields.*pointer);
          }
        } else if constexpr (std::is_same_v<Pointer, std::optional<double> F::*>) {
          value.Is = MemberValue::Kind::Double;
          value.Real = (fields.*pointer).value_or(0);
        } else if constexpr (!std::is_same_v<Pointer, std::monostate>) {
          const auto number = static_cast<std::int64_t>((fields.*pointer).value_or(0));
          switch (info.As) {
            case Shown::TypeName:
              value.Is = MemberValue::Kind::Text;
              value.Text = TypeMnemonic(static_cast<std::uint16_t>(number));
              break;
            case Shown::Date:
              value.Is = MemberValue::Kind::Date;
              value.Number = number;
              break;
            case Shown::Double:
              value.Is = MemberValue::Kind::Double;
              value.Real = static_cast<double>(number);
              break;
            default:
              value.Is = MemberValue::Kind::Long;
              value.Number = number;
              break;
          }
        }
      },
      slot);
  return value;
}

std::string TypeMnemonic(std::uint16_t type) {
  for (const TypeName& entry : TYPE_NAMES) {
    if (entry.Type == type) return entry.Mnemonic;
  }
  return "TYPE" + std::to_string(type);
}

std::optional<std::uint16_t> TypeFromMnemonic(std::string_view text) {
  for (const TypeName& entry : TYPE_NAMES) {
    if (EqualNoCase(text, entry.Mnemonic)) return entry.Type;
  }
  const std::optional<std::uint16_t> number = NumberAfter(text, "TYPE");
  if (!number || *number == 0) return std::nullopt;
  return number;
}

std::string RcodeMnemonic(std::uint16_t rcode) {
  static constexpr const char* RCODES_LOW[] = {"NOERROR", "FORMERR",  "SERVFAIL", "NXDOMAIN", "NOTIMP",  "REFUSED",
                                         "YXDOMAIN", "YXRRSET", "NXRRSET",  "NOTAUTH",  "NOTZONE", "DSOTYPENI"};
  static constexpr const char* RCODES_HIGH[] = {"BADVERS", "BADKEY",  "BADTIME", "BADMODE",
                                          "BADNAME", "BADALG",  "BADTRUNC", "BADCOOKIE"};
  if (rcode < std::size(RCODES_LOW)) return RCODES_LOW[rcode];
  if (rcode >= 16 && rcode < 16 + std::size(RCODES_HIGH)) return RCODES_HIGH[rcode - 16];
  return "RCODE" + std::to_string(rcode);
}

std::string ClassMnemonic(std::uint16_t klass) {
  switch (klass) {
    case 1: return "IN";
    case 3: return "CH";
    case 4: return "HS";
    case 254: return "NONE";
    case 255: return "ANY";
    default: return "CLASS" + std::to_string(klass);
  }
}

}  // namespace vbDNS
