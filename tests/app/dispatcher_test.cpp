// The one event dispatcher: every failure becomes the runtime's box, and the program goes on.
#include <gtest/gtest.h>

#include <deque>
#include <new>
#include <stdexcept>

#include "platform/forms/forms.h"
#include "platform/dialogs/msgbox.h"
#include "platform/base/runtime_error.h"

namespace {

TEST(Dispatcher, ReportsEveryFailureInTheRuntimesBox) {
  std::deque<platform::MsgBoxRequest> boxes;
  platform::setMsgBoxHandler([&](const platform::MsgBoxRequest& box) {
    boxes.push_back(box);
    return platform::vbOK;
  });
  EXPECT_TRUE(platform::runHandler([] {}));
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(platform::runHandler([] { platform::raiseError(platform::kErrTypeMismatch); }));
  EXPECT_FALSE(platform::runHandler([] { throw std::bad_alloc(); }));
  EXPECT_FALSE(platform::runHandler([] { throw std::logic_error("no such row"); }));
  platform::setMsgBoxHandler({});
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].prompt, "Run-time error '13':\n\nType mismatch");
  EXPECT_EQ(boxes[0].title, "Quorvane");
  EXPECT_EQ(boxes[1].prompt, "Run-time error '7':\n\nOut of memory");
  EXPECT_EQ(boxes[2].prompt, "Run-time error '51':\n\nInternal error: no such row");
}

}  // namespace
