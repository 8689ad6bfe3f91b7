#include "platform/common/png_file.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>

namespace platform {

bool writePngFile(const std::string& path, int width, int height, const void* pixels, int pitch,
                  std::string* error) {
    const QImage image(static_cast<const uchar*>(pixels), width, height, pitch, QImage::Format_RGB32);
    QImageWriter writer(QString::fromLocal8Bit(path.c_str()), "png");
    if (writer.write(image))
        return true;
    if (error)
        *error = writer.errorString().toLocal8Bit().toStdString();
    // A half-written file is worth nothing; an existing one we could not open stays.
    if (writer.error() != QImageWriter::DeviceError)
        QFile::remove(QString::fromLocal8Bit(path.c_str()));
    return false;
}

}  // namespace platform
