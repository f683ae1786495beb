// Every end-to-end test runs inside one private X session per process.
#include <gtest/gtest.h>

#include "x_session.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new halvic::e2e::XSession);
  return RUN_ALL_TESTS();
}
