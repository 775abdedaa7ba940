// Message boxes recorded instead of shown, for the tests to take and check one by one.
#pragma once

#include <cstddef>
#include <deque>

#include "platform/dialogs/msgbox.h"

namespace testsupport {

// While it lives, every box goes through the message-box seam into this recorder (answered OK).
// Each box must be taken: one left at the end fails the test. The dialog is restored at the end.
class MsgBoxRecorder final {
 public:
  MsgBoxRecorder();
  ~MsgBoxRecorder();
  MsgBoxRecorder(const MsgBoxRecorder&) = delete;
  MsgBoxRecorder& operator=(const MsgBoxRecorder&) = delete;

  // The oldest box not taken yet; fails the test (and gives an empty box) when there is none.
  platform::MsgBoxRequest take();

  bool empty() const { return boxes_.empty(); }
  std::size_t size() const { return boxes_.size(); }
  // The boxes not taken yet, oldest first.
  const std::deque<platform::MsgBoxRequest>& pending() const { return boxes_; }

 private:
  std::deque<platform::MsgBoxRequest> boxes_;
};

}  // namespace testsupport
