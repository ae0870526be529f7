// Identical questions in one call go out once: the distinct questions of a
// list of queries, and each one's outcome handed to every query that asked
// it, its reply's question spelt as that query spelt it.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "codec/vbdns.h"
#include "exchange/core/outcome.h"

namespace vavizav::exchange {

struct DistinctQuestions {
  std::vector<std::size_t> Firsts;  // the first query of each distinct question, in order of appearance
  std::vector<std::size_t> Of;      // for each query, its distinct question
};

// Questions are identical when name (without regard to ASCII case), type and
// class are.
DistinctQuestions FindDistinct(std::span<const vbDNS::DNSQuery> queries);

// One outcome per query from one per distinct question.
std::vector<ExchangeOutcome> HandOut(std::span<const vbDNS::DNSQuery> queries, const DistinctQuestions& distinct,
                                     std::vector<ExchangeOutcome> outcomes);

}  // namespace vavizav::exchange
