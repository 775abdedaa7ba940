// Modal message boxes: every box of the program goes through MsgBox, and through its seam tests
// see and answer each one. Plain C++: the dialog itself is installed by the forms layer
// (installMessageBoxDialog); without one a box is a line on standard error.
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
// shows the program's title. A test's handler, if set, takes the box instead of the dialog.
int MsgBox(const std::string& prompt, int style = vbOKOnly, const std::string& title = {});

using MsgBoxHandler = std::function<int(const MsgBoxRequest&)>;

// Replaces the dialog; tests record the boxes here. An empty function restores the dialog.
void setMsgBoxHandler(MsgBoxHandler handler);

// The dialog that shows boxes (the forms layer's modal box); empty: a line on standard error.
void setMsgBoxPresenter(MsgBoxHandler presenter);

}  // namespace platform
