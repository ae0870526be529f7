// The query record's name held in place: its bounds and value semantics.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "codec/vbdns.h"
#include "fixtures.h"

using namespace vbDNS;
using namespace fixtures;

namespace {

TEST(FixedString, WritesPastTheCapacityChangeNothing) {
  WireName name;
  EXPECT_TRUE(name.empty());
  EXPECT_TRUE(name.assign(std::string(250, 'x')));
  EXPECT_TRUE(name.append("yyyyy"));
  EXPECT_FALSE(name.append("z"));
  EXPECT_FALSE(name.assign(std::string(256, 'z')));
  EXPECT_FALSE(name.resize(256));
  EXPECT_EQ(name, std::string(250, 'x') + "yyyyy");
  EXPECT_THROW(WireName(std::string(256, 'x')), std::length_error);
}

TEST(Records, NewQueriesAreEmptyAndCopiesIndependent) {
  const DNSQuery empty;
  EXPECT_EQ(empty.Header, DNSHeader{});
  EXPECT_TRUE(empty.Question.QName.empty());
  EXPECT_EQ(empty.Question.QType, 0);

  DNSQuery query = Built(TYPE_A, "ab.cd");
  const DNSQuery copy = query;
  EXPECT_EQ(copy, query);
  query.Question.QName.assign(Octets({1, 'x', 0}));
  EXPECT_EQ(copy.Question.QName, Octets({2, 'a', 'b', 2, 'c', 'd', 0}));
  EXPECT_NE(copy, query);
}

}  // namespace
