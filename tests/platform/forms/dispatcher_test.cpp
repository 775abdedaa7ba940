// The one event dispatcher: every failure becomes the runtime's box, and the program goes on.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "platform/base/runtime_error.h"
#include "platform/forms/forms.h"
#include "tests/support/msgbox_recorder.h"

namespace {

TEST(Dispatcher, ReportsEveryFailureInTheRuntimesBox) {
  testsupport::MsgBoxRecorder boxes;
  EXPECT_TRUE(platform::runHandler([] {}));
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(platform::runHandler([] { platform::raiseError(platform::kErrTypeMismatch); }));
  EXPECT_FALSE(platform::runHandler([] { throw std::bad_alloc(); }));
  EXPECT_FALSE(platform::runHandler([] { throw std::logic_error("no such row"); }));
  ASSERT_EQ(boxes.size(), 3u);
  const platform::MsgBoxRequest typeMismatch = boxes.take();
  EXPECT_EQ(typeMismatch.prompt, "Run-time error '13':\n\nType mismatch");
  EXPECT_EQ(typeMismatch.title, "Quorvane");
  EXPECT_EQ(boxes.take().prompt, "Run-time error '7':\n\nOut of memory");
  EXPECT_EQ(boxes.take().prompt, "Run-time error '51':\n\nInternal error: no such row");
}

}  // namespace
