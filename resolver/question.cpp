#include "resolver/question.h"

#include <cmath>

#include "resolver/answer.h"

namespace vavizav::resolver {
namespace {

constexpr std::u16string_view TYPE_HINT =
    u" is not a DNS type: give a mnemonic such as \"MX\" or a number from 1 to 65535";

// Each refusal's text around what the caller gave, by Refusal; a type's text
// ends with the hint.
struct RefusalWords {
  std::u16string_view Before;
  bool ShowsGiven;
  std::u16string_view After;
  bool TypeHint;
};
constexpr RefusalWords REFUSAL_WORDS[] = {
    {u"Type ", true, u"", true},
    {u"Type", false, u"", true},
    {u"Type: ", true, u"", false},
    {u"Type \"", true, u"\"", true},
    {u"Name: ", true, u"", false},
    {u"Name \"", true,
     u"\" cannot be asked: it is empty, has an empty label, a label over 63 octets, is over 255 octets in all, or "
     u"IDNA refuses it",
     false},
};

}  // namespace

std::optional<std::uint16_t> QuestionTypeFromNumber(double number) noexcept {
  // Compared before the cast: a Double outside the range has no integer to cast to.
  if (!(number >= 1 && number <= 65535) || std::floor(number) != number) return std::nullopt;
  return static_cast<std::uint16_t>(number);
}

std::optional<vbDNS::DNSQuery> QuestionForName(std::string_view asciiName, std::uint16_t type) {
  if (asciiName.empty()) return std::nullopt;
  return BuildResolverQuestion(asciiName, type);
}

std::u16string RefusalText(Refusal refusal, std::u16string_view given) {
  const RefusalWords& words = REFUSAL_WORDS[static_cast<std::size_t>(refusal)];
  std::u16string text(words.Before);
  if (words.ShowsGiven) text += given;
  text += words.After;
  if (words.TypeHint) text += TYPE_HINT;
  return text;
}

}  // namespace vavizav::resolver
