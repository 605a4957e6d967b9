#pragma once
// The animation control: plays an AVI file (see AviFile) in a loop.

#include <QImage>
#include <QLabel>
#include <QTimer>

#include <vector>

class TAnimate : public QLabel {
    Q_OBJECT
public:
    explicit TAnimate(QWidget* parent = nullptr);

    // Loads the file; false (and nothing to play) when it is missing or not playable.
    bool setFileName(const QString& path);
    void setActive(bool on);
    bool isActive() const { return timer_.isActive(); }
    int frameCount() const { return static_cast<int>(frames_.size()); }

private:
    void step();

    std::vector<QImage> frames_;
    int current_ = 0;
    QTimer timer_;
};
