#include "tests/support/msgbox_recorder.h"

#include <gtest/gtest.h>

namespace testsupport {

MsgBoxRecorder::MsgBoxRecorder() {
  platform::setMsgBoxHandler([this](const platform::MsgBoxRequest& box) {
    boxes_.push_back(box);
    return platform::vbOK;
  });
}

MsgBoxRecorder::~MsgBoxRecorder() {
  platform::setMsgBoxHandler({});
  for (const platform::MsgBoxRequest& box : boxes_) {
    ADD_FAILURE() << "unexpected box: " << box.prompt;
  }
}

platform::MsgBoxRequest MsgBoxRecorder::take() {
  if (boxes_.empty()) {
    ADD_FAILURE() << "expected a box, none was shown";
    return {};
  }
  platform::MsgBoxRequest box = boxes_.front();
  boxes_.pop_front();
  return box;
}

}  // namespace testsupport
