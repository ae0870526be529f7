#include "resolver/name_text.h"

#include <algorithm>

namespace vavizav::resolver {
namespace {

// The dots IDNA reads as label separators (UTS 46 section 2.3): full stop,
// ideographic full stop, fullwidth full stop, halfwidth ideographic full stop.
bool IsLabelDot(char16_t c) noexcept { return c == u'.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61; }

bool IsDigit(char16_t c) noexcept { return c >= u'0' && c <= u'9'; }

// What no label holds unescaped: the space and the control characters
// (dig refuses them in a name as well; a zone file writes them \DDD).
bool NeedsEscape(char16_t c) noexcept { return c <= 0x20 || c == 0x7F; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// One label as it is being read: its octets so far, and whether it holds an
// escape or a character outside ASCII (which decides how it is made octets).
struct LabelBuilder {
  std::string Octets;
  std::u16string Text;  // the characters as typed, for IDNA
  bool Escaped = false;
  bool Wide = false;
};

NameText Failed(NameTextProblem problem, char16_t c = 0, std::size_t position = 0) {
  NameText name;
  name.Problem = problem;
  name.Character = c;
  name.Position = position;
  return name;
}

std::optional<std::string> AsciiOf(std::u16string_view text) {
  std::string ascii;
  ascii.reserve(text.size());
  for (const char16_t c : text) {
    if (c >= 0x80) return std::nullopt;
    ascii += static_cast<char>(c);
  }
  return ascii;
}

}  // namespace

bool IsNameSpace(char16_t c) noexcept {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == 0x00A0;
}

std::u16string_view TrimmedName(std::u16string_view text) noexcept {
  while (!text.empty() && IsNameSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsNameSpace(text.back())) text.remove_suffix(1);
  return text;
}

NameText NameFromText(std::u16string_view given, const LabelToAscii& idna) {
  std::size_t offset = 0;
  while (offset < given.size() && IsNameSpace(given[offset])) ++offset;
  const std::u16string_view text = TrimmedName(given);
  if (text.empty()) return Failed(NameTextProblem::CannotBeAsked);

  NameText name;
  if (text.size() == 1 && IsLabelDot(text[0])) {
    name.Wire.assign(1, '\0');
    return name;
  }
  std::size_t labels = 0;
  LabelBuilder label;
  // Ends the label being read; false when it cannot be one.
  auto close = [&]() -> bool {
    std::string octets;
    if (label.Wide && !label.Escaped) {
      std::optional<std::string> ascii = idna(label.Text);
      if (!ascii) return false;
      octets = std::move(*ascii);
    } else {
      octets = std::move(label.Octets);
    }
    if (octets.empty() || octets.size() > vbDNS::MAX_LABEL) return false;
    name.Wire += static_cast<char>(octets.size());
    name.Wire += octets;
    ++labels;
    label = LabelBuilder{};
    return name.Wire.size() + 1 <= vbDNS::MAX_NAME_WIRE;
  };

  bool absolute = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const std::size_t position = offset + i + 1;
    if (c == u'\\') {
      label.Escaped = true;
      if (i + 1 >= text.size()) return Failed(NameTextProblem::Escape, c, position);
      const char16_t next = text[i + 1];
      if (IsDigit(next)) {
        if (i + 3 >= text.size() || !IsDigit(text[i + 2]) || !IsDigit(text[i + 3])) {
          return Failed(NameTextProblem::Escape, c, position);
        }
        const unsigned value = (next - u'0') * 100u + (text[i + 2] - u'0') * 10u + (text[i + 3] - u'0');
        if (value > 255) return Failed(NameTextProblem::Escape, c, position);
        label.Octets += static_cast<char>(value);
        i += 3;
      } else {
        AppendUtf8(label.Octets, next);
        label.Text += next;
        ++i;
      }
      continue;
    }
    if (IsLabelDot(c)) {
      if (!close()) return Failed(NameTextProblem::CannotBeAsked);
      if (i + 1 == text.size()) absolute = true;
      continue;
    }
    if (NeedsEscape(c)) return Failed(NameTextProblem::Character, c, position);
    if (c >= 0x80) {
      label.Wide = true;
      // A surrogate pair is one character of UTF-8.
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        const char32_t pair = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        AppendUtf8(label.Octets, pair);
        label.Text += c;
        label.Text += text[++i];
        continue;
      }
    }
    AppendUtf8(label.Octets, c);
    label.Text += c;
  }
  if (!absolute && !close()) return Failed(NameTextProblem::CannotBeAsked);
  name.Wire += '\0';
  name.SingleLabel = labels == 1 && !absolute;
  return name;
}

std::optional<NameText> ReverseNameFromText(std::u16string_view given) {
  const std::u16string_view text = TrimmedName(given);
  const std::optional<std::string> ascii = AsciiOf(text);
  if (!ascii || ascii->empty() || ascii->back() == '.') return std::nullopt;
  const std::size_t percent = ascii->find('%');
  const std::string_view head = std::string_view(*ascii).substr(0, percent);
  const bool dotted = !head.empty() && head.find('.') != std::string_view::npos &&
                      std::all_of(head.begin(), head.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
  const bool colons = head.find(':') != std::string_view::npos &&
                      std::all_of(head.begin(), head.end(), [](char c) {
                        return c == ':' || c == '.' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
                               (c >= 'A' && c <= 'F');
                      });
  if (!dotted && !colons) return std::nullopt;
  // A zone index names an interface of this machine: it has no reverse name.
  if (percent != std::string::npos) return Failed(NameTextProblem::NotAnAddress);
  const std::string reverse = vbDNS::ReverseName(head);
  if (reverse.empty()) return Failed(NameTextProblem::NotAnAddress);
  NameText name;
  for (std::size_t start = 0; start <= reverse.size();) {
    std::size_t end = reverse.find('.', start);
    if (end == std::string::npos) end = reverse.size();
    name.Wire += static_cast<char>(end - start);
    name.Wire.append(reverse, start, end - start);
    start = end + 1;
  }
  name.Wire += '\0';
  return name;
}

std::vector<std::string> SearchSuffixes(std::u16string_view list, const LabelToAscii& idna) {
  std::vector<std::string> suffixes;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = start;
    while (end < list.size() && list[end] != u',' && !IsNameSpace(list[end])) ++end;
    if (end > start) {
      const NameText suffix = NameFromText(list.substr(start, end - start), idna);
      if (suffix.Problem == NameTextProblem::None && suffix.Wire.size() > 1 &&
          std::find(suffixes.begin(), suffixes.end(), suffix.Wire) == suffixes.end()) {
        suffixes.push_back(suffix.Wire);
      }
    }
    start = end + 1;
  }
  return suffixes;
}

std::vector<std::string> NamesToAsk(const NameText& name, const std::vector<std::string>& suffixes) {
  std::vector<std::string> names;
  if (name.SingleLabel) {
    // The label without its final zero, then the suffix's labels and zero.
    const std::string_view label = std::string_view(name.Wire).substr(0, name.Wire.size() - 1);
    for (const std::string& suffix : suffixes) {
      if (label.size() + suffix.size() > vbDNS::MAX_NAME_WIRE) continue;
      names.push_back(std::string(label) + suffix);
    }
  }
  if (names.empty()) names.push_back(name.Wire);
  return names;
}

bool AsksNextSuffixAfter(AnswerStatus status) noexcept {
  constexpr AnswerStatus NXDOMAIN = RcodeStatus(3);  // RFC 1035 section 4.1.1: name error
  return status == NXDOMAIN;
}

vbDNS::DNSQuery QuestionForWire(std::string_view wire, std::uint16_t type) {
  vbDNS::DNSQuery query;
  query.Header.ID = vbDNS::QUERY_ID;
  query.Header.Flags1 = vbDNS::FLAG_RD;
  query.Header.QDCount = 1;
  query.Question.QName.assign(wire);
  query.Question.QType = type;
  query.Question.QClass = vbDNS::CLASS_IN;
  // EDNS(0) with room for answers up to 1232 octets over UDP (RFC 6891), and
  // AD: the resolver's word on validation wanted (RFC 6840 section 5.7).
  query.EdnsUdpSize = vbDNS::EDNS_UDP_SIZE;
  query.Header.Flags2 |= vbDNS::FLAG_AD;
  return query;
}

std::u16string NameProblemText(const NameText& name, std::u16string_view given) {
  std::u16string text = u"Name \"";
  text += given;
  text += u"\"";
  switch (name.Problem) {
    case NameTextProblem::Character: {
      std::u16string what;
      if (name.Character == u' ') {
        what = u"a space";
      } else {
        static constexpr char16_t HEX[] = u"0123456789ABCDEF";
        what = u"the control character U+00";
        what += HEX[(name.Character >> 4) & 0xF];
        what += HEX[name.Character & 0xF];
      }
      const std::string position = std::to_string(name.Position);
      text += u": " + what + u" at position " + std::u16string(position.begin(), position.end()) +
              u" cannot stand unescaped in a name (write it \\DDD, a space \\032)";
      break;
    }
    case NameTextProblem::Escape: {
      const std::string position = std::to_string(name.Position);
      text += u": the escape at position " + std::u16string(position.begin(), position.end()) +
              u" is incomplete (\\ before a character, or \\DDD with three digits up to 255)";
      break;
    }
    case NameTextProblem::NotAnAddress:
      text += u" looks like an address but is none: a PTR question needs a dotted quad or an IPv6 address "
              u"without zone index, or a name";
      break;
    case NameTextProblem::None:
    case NameTextProblem::CannotBeAsked:
      text += u" cannot be asked: it is empty, has an empty label, a label over 63 octets, is over 255 octets in "
              u"all, or IDNA refuses it";
      break;
  }
  return text;
}

}  // namespace vavizav::resolver
