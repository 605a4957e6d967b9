#include "TAnimate.h"

#include "AviFile.h"
#include "EventBarrier.h"

#include <QFile>
#include <QPixmap>

TAnimate::TAnimate(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    connect(&timer_, &QTimer::timeout, this, [this] { EventBarrier::run([this] { step(); }); });
}

bool TAnimate::setFileName(const QString& path) {
    setActive(false);
    frames_.clear();
    clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > static_cast<qint64>(AviFile::maxFileSize))
        return false;
    const QByteArray bytes = file.readAll();
    AviFile avi;
    if (!avi.parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))))
        return false;
    for (const auto& pixels : avi.frames()) {
        QImage image(avi.width(), avi.height(), QImage::Format_ARGB32);
        for (int y = 0; y < avi.height(); ++y)
            std::copy_n(pixels.data() + static_cast<std::size_t>(y) * avi.width(), avi.width(),
                        reinterpret_cast<std::uint32_t*>(image.scanLine(y)));
        frames_.push_back(std::move(image));
    }
    timer_.setInterval(std::max(20, static_cast<int>(avi.frameMicroseconds() / 1000)));
    current_ = 0;
    setPixmap(QPixmap::fromImage(frames_.front()));
    return true;
}

void TAnimate::setActive(bool on) {
    if (on && !frames_.empty())
        timer_.start();
    else
        timer_.stop();
}

void TAnimate::step() {
    if (frames_.empty())
        return;
    current_ = (current_ + 1) % static_cast<int>(frames_.size());
    setPixmap(QPixmap::fromImage(frames_[static_cast<std::size_t>(current_)]));
}
