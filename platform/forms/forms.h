// The forms layer: a window and the controls the program's window needs, on Qt Widgets behind
// plain C++ classes. Places and sizes are twips (kTwipsPerPixel to the pixel), read and written as
// Single. Event handlers are plain functions; each runs through runHandler, so a run-time error
// inside one is reported in a box and the program goes on. A setter that raises a run-time error
// changes nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/forms/numbers.h"
#include "platform/picture/canvas.h"

namespace platform {

// The system's colour for the face of buttons (a canvas's usual back colour).
Color buttonFaceColor();

// Makes MsgBox show Qt's modal message box (call once the QApplication exists).
void installMessageBoxDialog();

// Runs one event handler. A RuntimeError, running out of memory or any other exception is shown
// as the runtime's "Run-time error 'N':" box with the program's title; then it returns false.
bool runHandler(const std::function<void()>& handler);

// A picture: one read from a JPEG or GIF file (drawn at any size on demand), or a bitmap such as a
// canvas's persistent image. Cheap to copy; the pixels are shared and never change.
class Picture {
 public:
  Picture();
  ~Picture();
  Picture(const Picture&);
  Picture& operator=(const Picture&);
  bool isEmpty() const;
  int pixelWidth() const;  // natural size, upright
  int pixelHeight() const;
  struct Data;
  explicit Picture(std::shared_ptr<const Data> data);
  const std::shared_ptr<const Data>& data() const { return data_; }

 private:
  std::shared_ptr<const Data> data_;
};

// Reads a JPEG or GIF file (path: UTF-8 bytes, passed on unchanged). Raises 53 for a missing file,
// another file error (70, 75, 76 ...) for one that cannot be read, 481 "Invalid picture" for one
// it cannot draw.
Picture LoadPicture(const std::string& path);
// The same from bytes kept with the program (the stored start-up picture). Raises 53 or 481.
Picture LoadPictureFromResource(const std::string& resourcePath);
// Writes the picture as a 24-bit Windows BMP file, replacing a file of that name. Raises 481 for
// an empty picture, a file error (70, 61 ...) when the file cannot be written.
void SavePicture(const Picture& picture, const std::string& path);
// Deletes a file. Raises 53 when there is none, another file error when it cannot be deleted.
void Kill(const std::string& path);

class Form;

// What every control has: a place and size in twips, visibility, a place in the tab order.
class Control {
 public:
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  float Left() const { return left_; }
  float Top() const { return top_; }
  float Width() const { return width_; }
  float Height() const { return height_; }
  // Twips. A size the control cannot take raises a run-time error (the picture box: 380 for a
  // negative size, 480 for a drawing area over the canvas limits).
  void Move(float left, float top, float width, float height);
  // Twips, rounded to a Single; raises 6 outside Single's range, then as Move.
  void setWidth(double width) { Move(left_, top_, CSng(width), height_); }
  void setHeight(double height) { Move(left_, top_, width_, CSng(height)); }
  bool Visible() const;
  void setVisible(bool visible);
  void setTabIndex(int index);
  // What a screen reader says for the control: its name, then what it is for or shows.
  void setAccessibleName(const std::string& name);
  void setAccessibleDescription(const std::string& description);
  struct Impl;
  Impl& impl() const { return *impl_; }

 protected:
  explicit Control(std::unique_ptr<Impl> impl);
  // Places the widget for a twips rectangle before it is stored; may refuse it with a run-time
  // error, and then nothing changes.
  virtual void applyGeometry(float left, float top, float width, float height);

 private:
  std::unique_ptr<Impl> impl_;
  float left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

class Form {
 public:
  Form();
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;
  void setCaption(const std::string& caption);
  std::string Caption() const;
  // The client area in twips; the outer width adds a 45-twip frame on each side.
  void setClientSize(float width, float height);
  float Width() const { return width_; }  // outer width, twips
  // The outer width in twips; the client area follows (at most what X11 can map). Raises 6 outside
  // Single's range.
  void setWidth(double width);
  float ScaleWidth() const;  // client area, twips
  float ScaleHeight() const;
  void setBackColor(Color color);
  // The window's and the program's icon, from the program's stored resources.
  void setIcon(const std::string& resourcePath);
  void Show();
  void applyTabOrder();
  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
  float width_ = 0;
};

// A canvas whose drawing always goes into its persistent bitmap (it redraws itself).
class PictureBox final : public Control {
 public:
  explicit PictureBox(Form& form);
  ~PictureBox() override;
  // The colour of the drawing area where nothing is drawn; clears the drawing.
  void setBackColor(Color color);
  Color BackColor() const;
  // The background picture, drawn at the drawing area's top-left at its own size; Cls keeps it.
  // Setting it clears the drawing.
  Picture picture() const;
  void setPicture(const Picture& picture);
  // The persistent bitmap: background picture and drawing together, the drawing area's size.
  Picture Image() const;
  // Erases everything drawn at run time.
  void Cls();
  // Draws the whole picture stretched into the rectangle (twips from the drawing area's corner).
  // Transparent pixels take the back colour. Raises 481 for an empty picture, 5 for a width or
  // height of 0 or less, 480 for a drawing over the canvas limits, 481 or 7 when it cannot be
  // decoded.
  void PaintPicture(const Picture& picture, double x, double y, double width, double height);
  // The drawing area in whole pixels for the control's twips size.
  int ScalePixelWidth() const;
  int ScalePixelHeight() const;

 protected:
  void applyGeometry(float left, float top, float width, float height) override;
};

// The hidden holder of a picture at its natural size.
class ImageControl final : public Control {
 public:
  explicit ImageControl(Form& form);
  ~ImageControl() override;
  Picture picture() const { return picture_; }
  // Takes the picture's natural size in twips (no stretching).
  void setPicture(const Picture& picture);

 private:
  Picture picture_;
};

class TextBox final : public Control {
 public:
  explicit TextBox(Form& form);
  ~TextBox() override;
  std::string Text() const;  // UTF-8
  void setText(const std::string& text);
  // The text's colour and the box's back colour.
  void setColors(Color fore, Color back);
};

class Label final : public Control {
 public:
  explicit Label(Form& form);
  ~Label() override;
  void setCaption(const std::string& caption);
  std::string Caption() const;
  // The caption's colour and the label's back colour.
  void setColors(Color fore, Color back);
  // A font family, its size in points and its weight (400 normal, 700 bold).
  void setFont(const std::string& family, double points, int weight);
};

class CommandButton final : public Control {
 public:
  explicit CommandButton(Form& form);
  ~CommandButton() override;
  void setCaption(const std::string& caption);
  std::string Caption() const;
  // The handler runs through runHandler at each click.
  void onClick(std::function<void()> handler);
  void click();  // as if the user clicked it
};

// A line drawn on the form, in twips, in the system's window-text colour.
class Line final {
 public:
  Line(Form& form, float x1, float y1, float x2, float y2);
  ~Line();
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The mounted file systems a person can browse, "/" first, read afresh each time the list is
// opened. It shows the drive that holds the folder list's folder (without raising Change).
class DriveListBox final : public Control {
 public:
  explicit DriveListBox(Form& form);
  ~DriveListBox() override;
  std::string Drive() const;
  // Chooses the drive (a mount point, or any path on it); raises 68 when there is no such drive.
  void setDrive(const std::string& drive);
  void onChange(std::function<void()> handler);
  int ListCount() const;
  std::string List(int index) const;  // the mount point
};

// A folder's ancestors (open) and its subfolders; a double-click opens one.
class DirListBox final : public Control {
 public:
  explicit DirListBox(Form& form);
  ~DirListBox() override;
  std::string Path() const;
  // A folder, or a drive (its root); raises Change when the folder differs. Raises 76, 70 or 68
  // when it cannot be read; the list stays.
  void setPath(const std::string& path);
  void onChange(std::function<void()> handler);
  void openEntry(int index);  // as a double-click on the entry
  int ListCount() const;
  std::string List(int index) const;  // the entry's full path
};

// The files of a folder that match the pattern, sorted as a person expects, dot-files hidden.
class FileListBox final : public Control {
 public:
  explicit FileListBox(Form& form);
  ~FileListBox() override;
  std::string Path() const;
  // Shows the folder's matching files. Raises 76, 70 or 68 when it cannot be read; the list stays.
  void setPath(const std::string& path);
  std::string Pattern() const;
  // Patterns separated by ";", matched without regard to case. Refills the list; raises as setPath
  // when the folder cannot be read.
  void setPattern(const std::string& pattern);
  std::string FileName() const;  // the selected file's name; empty when none
  int ListCount() const;
  std::string List(int index) const;
  void onClick(std::function<void()> handler);
  void click(int index);  // as if the user clicked the entry
};

}  // namespace platform
