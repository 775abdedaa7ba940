// Pictures: reading them from files and resources, drawing them at a size, saving them as BMP
// files, and deleting files.
#include <fcntl.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <cerrno>

#include "platform/base/file_io.h"
#include "platform/base/runtime_error.h"
#include "platform/forms/forms_impl.h"
#include "platform/picture/canvas.h"

namespace platform {

Picture::Picture() = default;
Picture::~Picture() = default;
Picture::Picture(const Picture&) = default;
Picture& Picture::operator=(const Picture&) = default;
Picture::Picture(std::shared_ptr<const Data> data) : data_(std::move(data)) {}
bool Picture::isEmpty() const { return data_ == nullptr; }
int Picture::pixelWidth() const { return data_ ? data_->width : 0; }
int Picture::pixelHeight() const { return data_ ? data_->height : 0; }

QImage drawnBitmap(const Picture& picture, int width, int height, Color back) {
  const Picture::Data& data = *picture.data();
  if (data.encoded) {
    const RgbaImage drawn = renderPicture(*data.encoded, width, height);
    QImage image(width, height, QImage::Format_RGB32);
    paintCanvas(drawn, back, width, height, CanvasPixels::kBgrx, image.bits(),
                static_cast<std::size_t>(image.bytesPerLine()));
    return image;
  }
  if (data.bitmap.width() == width && data.bitmap.height() == height) return data.bitmap;
  return data.bitmap.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage pictureBitmap(const Picture& picture) {
  if (picture.isEmpty()) return {};
  return drawnBitmap(picture, picture.pixelWidth(), picture.pixelHeight(), Color{});
}

namespace {

Picture fromEncoded(std::shared_ptr<const EncodedPicture> encoded) {
  auto data = std::make_shared<Picture::Data>();
  const PictureInfo& facts = encoded->info();
  data->width = facts.width;
  data->height = facts.height;
  data->encoded = std::move(encoded);
  return Picture(std::move(data));
}

}  // namespace

Picture LoadPicture(const std::string& path) { return fromEncoded(loadPicture(path)); }

Picture LoadPictureFromResource(const std::string& resourcePath) {
  QFile file(QString::fromStdString(resourcePath));
  if (!file.open(QIODevice::ReadOnly)) raiseError(kErrFileNotFound);
  const QByteArray bytes = file.readAll();
  return fromEncoded(loadPictureFromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
}

void SavePicture(const Picture& picture, const std::string& path) {
  if (picture.isEmpty()) raiseError(kErrInvalidPicture);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!pictureBitmap(picture).convertToFormat(QImage::Format_RGB888).save(&buffer, "BMP")) {
    raiseError(kErrInvalidPicture);
  }
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file.valid()) raiseFileError(errno, path);
  if (const int error =
          writeFully(file.get(), bytes.constData(), static_cast<size_t>(bytes.size()))) {
    raiseFileError(error, path);
  }
  if (const int error = file.close()) raiseFileError(error, path);
}

void Kill(const std::string& path) {
  if (::unlink(path.c_str()) != 0) raiseFileError(errno, path);
}

}  // namespace platform
