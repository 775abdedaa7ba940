// Checks of the run-time errors (platform::RuntimeError) that code under test raises.
#pragma once

#include <gtest/gtest.h>

#include <functional>

namespace testsupport {

// The number of the run-time error the action raises; 0 when it raises none. Other exceptions
// pass through, for the test to fail on.
int runtimeErrorOf(const std::function<void()>& action);

}  // namespace testsupport

// Expects the statement to raise run-time error `number`; a message may be streamed after it.
#define EXPECT_RUNTIME_ERROR(statement, number) \
  EXPECT_EQ(::testsupport::runtimeErrorOf([&] { statement; }), (number))
