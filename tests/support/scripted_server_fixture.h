// A test against the scripted DNS server: each test starts with no script and
// no recorded query, and leaves none behind for the next.
#pragma once

#include <gtest/gtest.h>

#include "fake_dns_server.h"

namespace vavizav::testing {

class ScriptedServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Server().Problem(), "");
    Server().Reset();
  }
  void TearDown() override { Server().Reset(); }
};

}  // namespace vavizav::testing
