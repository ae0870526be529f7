#include "exchange/core/distinct_questions.h"

#include <string>
#include <unordered_map>

#include "codec/reply_check.h"
#include "exchange/core/name_case.h"

namespace vavizav::exchange {

DistinctQuestions FindDistinct(std::span<const vbDNS::DNSQuery> queries) {
  DistinctQuestions distinct;
  distinct.Of.assign(queries.size(), 0);
  if (queries.size() == 1) {
    distinct.Firsts.push_back(0);
    return distinct;
  }
  std::unordered_map<std::string, std::size_t> seen;
  seen.reserve(queries.size());
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const auto [entry, added] = seen.try_emplace(QuestionKey(queries[i].Question), distinct.Firsts.size());
    if (added) distinct.Firsts.push_back(i);
    distinct.Of[i] = entry->second;
  }
  return distinct;
}

std::vector<ExchangeOutcome> HandOut(std::span<const vbDNS::DNSQuery> queries, const DistinctQuestions& distinct,
                                     std::vector<ExchangeOutcome> outcomes) {
  // The last asker of each question takes its outcome without a copy.
  std::vector<std::size_t> askersLeft(distinct.Firsts.size(), 0);
  for (const std::size_t d : distinct.Of) ++askersLeft[d];
  std::vector<ExchangeOutcome> handed(queries.size());
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const std::size_t d = distinct.Of[i];
    handed[i] = --askersLeft[d] == 0 ? std::move(outcomes[d]) : outcomes[d];
    if (handed[i].Reply) {
      vbDNS::RespellReply(*handed[i].Reply, queries[distinct.Firsts[d]].Question.QName, queries[i].Question.QName);
    }
  }
  return handed;
}

}  // namespace vavizav::exchange
