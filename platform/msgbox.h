// Modal message boxes, and the seam through which tests see and answer every box.
#pragma once

#include <functional>
#include <string>

namespace platform {

inline constexpr int vbOKOnly = 0;
inline constexpr int vbCritical = 16;
inline constexpr int vbExclamation = 48;
inline constexpr int vbOK = 1;

// The program's title, and the caption of a box shown without one.
inline constexpr const char* kProgramTitle = "Quorvane";

struct MsgBoxRequest {
  std::string prompt;
  int style = vbOKOnly;
  std::string title;  // already defaulted to the program's title
};

// Shows a modal box with one OK button and returns when it is closed (vbOK). An empty title
// shows the program's title.
int MsgBox(const std::string& prompt, int style = vbOKOnly, const std::string& title = {});

// Replaces the real dialog; tests record the boxes here. An empty function restores the dialog.
using MsgBoxHandler = std::function<int(const MsgBoxRequest&)>;
void setMsgBoxHandler(MsgBoxHandler handler);

}  // namespace platform
