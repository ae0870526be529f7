// Presentation text and typed fields of a Message, made when asked. Every
// record was checked against its type's layout by ReadMessage, so the reads
// here cannot fail; they still go through the bounded reader.
#include <array>
#include <charconv>
#include <cstring>

#include "codec/ipv6_text.h"
#include "codec/message.h"
#include "codec/names.h"
#include "codec/wire_reader.h"

namespace vbDNS {

namespace {

using detail::Get16;
using detail::Get32;
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

std::string AddressText(PacketView data) {
  if (data.size() == 4) return IPToText(std::span<const std::uint8_t, 4>(data.data(), 4));
  char text[detail::MAX_IPV6_TEXT];
  char* end = detail::PutIPv6Text(text, std::span<const std::uint8_t, 16>(data.data(), 16));
  return std::string(text, end);
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

std::string DataText(const Message& message, const ResourceRecord& record) {
  WireReader rdata = DataReader(message, record);
  std::string out;
  if (!record.Typed) {
    // RFC 3597 section 5.
    out += "\\# ";
    AppendUnsigned(out, record.RDataLength);
    if (record.RDataLength != 0) {
      out += ' ';
      AppendHex(out, rdata.Bytes(record.RDataLength));
    }
    return out;
  }
  switch (record.Type) {
    case TYPE_A:
    case TYPE_AAAA:
      return AddressText(rdata.Bytes(record.RDataLength));
    case TYPE_NS:
    case TYPE_CNAME:
    case TYPE_PTR:
    case TYPE_DNAME:
      AppendName(out, message, record.DataNames[0]);
      return out;
    case TYPE_MX: {
      const auto fixed = rdata.Fixed<2>();
      AppendUnsigned(out, Get16<0>(fixed));
      out += ' ';
      AppendName(out, message, record.DataNames[0]);
      return out;
    }
    case TYPE_TXT:
    case TYPE_SPF:
      while (rdata.Left() != 0) {
        if (!out.empty()) out += ' ';
        AppendQuoted(out, CharacterString(rdata));
      }
      return out;
    case TYPE_SRV: {
      const auto fixed = rdata.Fixed<6>();
      AppendUnsigned(out, Get16<0>(fixed));
      out += ' ';
      AppendUnsigned(out, Get16<2>(fixed));
      out += ' ';
      AppendUnsigned(out, Get16<4>(fixed));
      out += ' ';
      AppendName(out, message, record.DataNames[0]);
      return out;
    }
    case TYPE_SOA: {
      AppendName(out, message, record.DataNames[0]);
      out += ' ';
      AppendName(out, message, record.DataNames[1]);
      WireReader numbers = DataReader(message, record);
      numbers.Skip(record.RDataLength - 20u);
      const auto fixed = numbers.Fixed<20>();
      for (const std::uint32_t value : {Get32<0>(fixed), Get32<4>(fixed), Get32<8>(fixed), Get32<12>(fixed),
                                        Get32<16>(fixed)}) {
        out += ' ';
        AppendUnsigned(out, value);
      }
      return out;
    }
    case TYPE_CAA: {
      AppendUnsigned(out, rdata.U8());
      out += ' ';
      const PacketView tag = CharacterString(rdata);
      out.append(AsText(tag));
      out += ' ';
      AppendQuoted(out, rdata.Bytes(rdata.Left()));
      return out;
    }
    case TYPE_NAPTR: {
      const auto fixed = rdata.Fixed<4>();
      AppendUnsigned(out, Get16<0>(fixed));
      out += ' ';
      AppendUnsigned(out, Get16<2>(fixed));
      for (int i = 0; i < 3; ++i) {
        out += ' ';
        AppendQuoted(out, CharacterString(rdata));
      }
      out += ' ';
      AppendName(out, message, record.DataNames[0]);
      return out;
    }
    case TYPE_HINFO:
      AppendQuoted(out, CharacterString(rdata));
      out += ' ';
      AppendQuoted(out, CharacterString(rdata));
      return out;
    case TYPE_SSHFP: {
      const auto fixed = rdata.Fixed<2>();
      AppendUnsigned(out, fixed[0]);
      out += ' ';
      AppendUnsigned(out, fixed[1]);
      if (rdata.Left() != 0) {  // an unknown fingerprint type may come without one
        out += ' ';
        AppendHex(out, rdata.Bytes(rdata.Left()));
      }
      return out;
    }
    case TYPE_TLSA: {
      const auto fixed = rdata.Fixed<3>();
      for (const std::uint8_t value : fixed) {
        AppendUnsigned(out, value);
        out += ' ';
      }
      AppendHex(out, rdata.Bytes(rdata.Left()));
      return out;
    }
    case TYPE_DS: {
      const auto fixed = rdata.Fixed<4>();
      AppendUnsigned(out, Get16<0>(fixed));
      out += ' ';
      AppendUnsigned(out, fixed[2]);
      out += ' ';
      AppendUnsigned(out, fixed[3]);
      out += ' ';
      AppendHex(out, rdata.Bytes(rdata.Left()));
      return out;
    }
    default:
      return out;
  }
}

RecordFields Fields(const Message& message, const ResourceRecord& record) {
  RecordFields fields;
  if (!record.Typed) return fields;
  WireReader rdata = DataReader(message, record);
  const auto strings = [&rdata, &fields](int count) {
    for (int i = 0; i < count || (count < 0 && rdata.Left() != 0); ++i) {
      fields.Strings.emplace_back(AsText(CharacterString(rdata)));
    }
  };
  switch (record.Type) {
    case TYPE_A:
    case TYPE_AAAA:
      fields.Address = AddressText(rdata.Bytes(record.RDataLength));
      break;
    case TYPE_NS:
    case TYPE_CNAME:
    case TYPE_PTR:
    case TYPE_DNAME:
      fields.Target = NameString(message, record.DataNames[0]);
      break;
    case TYPE_MX:
      fields.Preference = Get16<0>(rdata.Fixed<2>());
      fields.Target = NameString(message, record.DataNames[0]);
      break;
    case TYPE_TXT:
    case TYPE_SPF:
      strings(-1);
      break;
    case TYPE_HINFO:
      strings(2);
      break;
    case TYPE_SRV: {
      const auto fixed = rdata.Fixed<6>();
      fields.Priority = Get16<0>(fixed);
      fields.Weight = Get16<2>(fixed);
      fields.Port = Get16<4>(fixed);
      fields.Target = NameString(message, record.DataNames[0]);
      break;
    }
    case TYPE_SOA: {
      fields.PrimaryServer = NameString(message, record.DataNames[0]);
      fields.ResponsibleMailbox = NameString(message, record.DataNames[1]);
      rdata.Skip(record.RDataLength - 20u);
      const auto fixed = rdata.Fixed<20>();
      fields.Serial = Get32<0>(fixed);
      fields.Refresh = Get32<4>(fixed);
      fields.Retry = Get32<8>(fixed);
      fields.Expire = Get32<12>(fixed);
      fields.Minimum = Get32<16>(fixed);
      break;
    }
    case TYPE_CAA:
      fields.Flags = rdata.U8();
      fields.Tag = AsText(CharacterString(rdata));
      fields.Value = AsText(rdata.Bytes(rdata.Left()));
      break;
    case TYPE_NAPTR: {
      const auto fixed = rdata.Fixed<4>();
      fields.Order = Get16<0>(fixed);
      fields.Preference = Get16<2>(fixed);
      fields.NaptrFlags = AsText(CharacterString(rdata));
      fields.Services = AsText(CharacterString(rdata));
      fields.Regexp = AsText(CharacterString(rdata));
      fields.Target = NameString(message, record.DataNames[0]);
      break;
    }
    case TYPE_SSHFP: {
      const auto fixed = rdata.Fixed<2>();
      fields.Algorithm = fixed[0];
      fields.DigestType = fixed[1];
      fields.Digest = AsText(rdata.Bytes(rdata.Left()));
      break;
    }
    case TYPE_TLSA: {
      const auto fixed = rdata.Fixed<3>();
      fields.Usage = fixed[0];
      fields.Selector = fixed[1];
      fields.MatchingType = fixed[2];
      fields.Digest = AsText(rdata.Bytes(rdata.Left()));
      break;
    }
    case TYPE_DS: {
      const auto fixed = rdata.Fixed<4>();
      fields.KeyTag = Get16<0>(fixed);
      fields.Algorithm = fixed[2];
      fields.DigestType = fixed[3];
      fields.Digest = AsText(rdata.Bytes(rdata.Left()));
      break;
    }
    default:
      break;
  }
  return fields;
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
