// Quorvane: makes JPEG thumbnails. It takes no arguments and opens on the current folder.
#include <QApplication>

#include "app/Form1.h"
#include "platform/forms/forms.h"
#include "platform/picture/qt/gif_decode.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Quorvane");
  QApplication::setApplicationVersion("1.00");
  QApplication::setDesktopFileName("io.github.quorvane.Quorvane");  // its menu entry
  platform::installMessageBoxDialog();
  platform::installQtGifDecoder();
  Form1 form;
  form.Show();
  return QApplication::exec();
}
