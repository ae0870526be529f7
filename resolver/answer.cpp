#include "resolver/answer.h"

#include <algorithm>
#include <cstddef>

#include "codec/edns.h"

namespace vavizav::resolver {
namespace {

char LowerAscii(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Wire names compared as DNS compares them: ASCII letters without regard to
// case (RFC 4343). Length octets are at most 63, below every letter, so the
// whole wire form can be compared octet by octet.
bool SameName(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string LowerName(std::string_view wire) {
  std::string lowered(wire);
  for (char& c : lowered) c = LowerAscii(c);
  return lowered;
}

// RFC 6672 section 2.2: a name below a DNAME's owner is rewritten by putting
// the DNAME's target in place of the owner. nullopt when `name` is not below
// `owner` (the owner itself is not rewritten) or the result would exceed 255
// octets (the server's YXDOMAIN case). Both names are validated wire forms.
std::optional<std::string> RewriteBelowDname(std::string_view name, std::string_view owner, std::string_view target) {
  std::size_t at = 0;
  while (at < name.size() && name[at] != 0) {
    at += std::size_t{1} + static_cast<unsigned char>(name[at]);
    if (at >= name.size()) return std::nullopt;
    if (SameName(name.substr(at), owner)) {
      std::string rewritten(name.substr(0, at));
      rewritten.append(target);
      if (rewritten.size() > vbDNS::MAX_NAME_WIRE) return std::nullopt;
      return rewritten;
    }
  }
  return std::nullopt;
}

std::string_view Octets(const vbDNS::WireName& name) noexcept { return name.view(); }

RecordModel ModelOf(const vbDNS::Message& message, const vbDNS::ResourceRecord& record) {
  RecordModel model;
  model.Name = vbDNS::NameTextOf(message, record.Owner);
  model.Type = record.Type;
  model.TTL = (record.TTL & 0x80000000u) != 0 ? 0 : record.TTL;
  model.Data = vbDNS::DataText(message, record);
  model.Fields = vbDNS::Fields(message, record);
  return model;
}

std::vector<RecordModel> SectionModels(const vbDNS::Message& message, vbDNS::Section section) {
  std::vector<RecordModel> models;
  const std::span<const vbDNS::ResourceRecord> records = message.Records(section);
  models.reserve(records.size());
  for (const vbDNS::ResourceRecord& record : records) models.push_back(ModelOf(message, record));
  return models;
}

// The name a chain has reached: its wire form, and where the reply holds it
// when it does (a DNAME rewrite exists only here).
struct ChainName {
  std::string Wire;
  std::optional<vbDNS::NameRef> InReply;
};

}  // namespace

std::optional<std::uint16_t> ParseQuestionType(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    if (text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) value = value * 10 + static_cast<unsigned>(c - '0');
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
  }
  const std::optional<std::uint16_t> type = vbDNS::TypeFromMnemonic(text);
  if (!type || *type == 0) return std::nullopt;
  return type;
}

AnswerModel AnswerWithoutReply(AnswerStatus status) {
  AnswerModel answer;
  answer.Status = status;
  return answer;
}

AnswerModel JudgeTruncatedReply(vbDNS::PacketView reply, const vbDNS::DNSQuery& asked) {
  AnswerModel answer = JudgeReply(reply, asked);
  if (answer.Status == NOERROR_STATUS) answer.Status = TRUNCATED_STATUS;
  return answer;
}

AnswerModel JudgeReply(vbDNS::PacketView reply, const vbDNS::DNSQuery& asked) {
  const std::optional<vbDNS::Message> read = vbDNS::ReadMessage(reply);
  if (!read) return AnswerWithoutReply(MALFORMED_STATUS);
  const vbDNS::Message& message = *read;
  const std::uint16_t askedType = asked.Question.QType;
  const std::uint16_t askedClass = asked.Question.QClass;

  AnswerModel answer;
  answer.Status = RcodeStatus(message.Rcode());
  answer.Authenticated = (message.Header().Flags2 & vbDNS::FLAG_AD) != 0;
  answer.ExtendedError = vbDNS::ExtendedErrorText(vbDNS::ExtendedErrors(message));

  const std::span<const vbDNS::ResourceRecord> records = message.Records(vbDNS::Section::Answer);
  std::vector<std::string> owners;
  owners.reserve(records.size());
  for (const vbDNS::ResourceRecord& record : records) owners.emplace_back(Octets(vbDNS::NameWire(message, record.Owner)));

  ChainName current;
  if (message.HasQuestion()) {
    current = {std::string(Octets(vbDNS::NameWire(message, message.QuestionName()))), message.QuestionName()};
  } else {
    current = {std::string(asked.Question.QName.view()), std::nullopt};
  }
  std::vector<std::string> visited{LowerName(current.Wire)};

  std::vector<std::size_t> matched;
  // Each step either stops or moves to a name not seen before, and every
  // name comes from a record: at most one step per record.
  for (std::size_t step = 0; step <= records.size(); ++step) {
    for (std::size_t i = 0; i < records.size(); ++i) {
      const vbDNS::ResourceRecord& record = records[i];
      if (record.Class != askedClass) continue;
      if (askedType != TYPE_ANY && record.Type != askedType) continue;
      if (SameName(owners[i], current.Wire)) matched.push_back(i);
    }
    if (!matched.empty()) break;

    std::optional<ChainName> next;
    if (askedType != vbDNS::TYPE_CNAME) {
      for (std::size_t i = 0; i < records.size() && !next; ++i) {
        const vbDNS::ResourceRecord& record = records[i];
        if (record.Type != vbDNS::TYPE_CNAME || record.Class != askedClass) continue;
        if (!SameName(owners[i], current.Wire)) continue;
        const vbDNS::NameRef target = record.DataNames[0];
        next = ChainName{std::string(Octets(vbDNS::NameWire(message, target))), target};
      }
    }
    if (!next && askedType != vbDNS::TYPE_DNAME) {
      for (std::size_t i = 0; i < records.size() && !next; ++i) {
        const vbDNS::ResourceRecord& record = records[i];
        if (record.Type != vbDNS::TYPE_DNAME || record.Class != askedClass) continue;
        const std::string target(Octets(vbDNS::NameWire(message, record.DataNames[0])));
        std::optional<std::string> rewritten = RewriteBelowDname(current.Wire, owners[i], target);
        if (rewritten) next = ChainName{std::move(*rewritten), std::nullopt};
      }
    }
    if (!next) break;
    std::string lowered = LowerName(next->Wire);
    if (std::find(visited.begin(), visited.end(), lowered) != visited.end()) break;
    visited.push_back(std::move(lowered));
    current = std::move(*next);
  }

  answer.CanonicalName = current.InReply ? vbDNS::NameTextOf(message, *current.InReply) : vbDNS::WireNameText(current.Wire);
  answer.Records.reserve(matched.size());
  for (const std::size_t i : matched) answer.Records.push_back(ModelOf(message, records[i]));
  answer.Authoritative = (message.Header().Flags1 & vbDNS::FLAG_AA) != 0;
  answer.RecursionAvailable = (message.Header().Flags2 & vbDNS::FLAG_RA) != 0;
  answer.Authority = SectionModels(message, vbDNS::Section::Authority);
  answer.Additional = SectionModels(message, vbDNS::Section::Additional);
  return answer;
}

bool IsReferral(const AnswerModel& answer) {
  if (answer.Status != NOERROR_STATUS || !answer.Records.empty() || answer.Authoritative) return false;
  return std::any_of(answer.Authority.begin(), answer.Authority.end(),
                     [](const RecordModel& record) { return record.Type == vbDNS::TYPE_NS; });
}

std::string AnswerText(const AnswerModel& answer) {
  std::string text;
  for (const RecordModel& record : answer.Records) {
    if (!text.empty() || &record != &answer.Records.front()) text += "\r\n";
    text += record.Data;
  }
  return text;
}

std::string JoinedStrings(const vbDNS::RecordFields& fields) {
  std::string joined;
  for (const std::string& part : fields.Strings) joined += part;
  return joined;
}

}  // namespace vavizav::resolver
