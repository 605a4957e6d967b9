#pragma once
// While it lives, Qt's notices about the platform it runs on are kept off the terminal:
// the offscreen platform says for every window what it cannot do for it ("This plugin
// does not support propagateSizeHints()", raise(), grabbing the keyboard), and Qt says
// when the session has no runtime folder. Neither is anything the person running the
// offscreen tour can act on. Every other message passes on as before.

#include <QString>

namespace counter {

// True for a platform notice of that kind.
bool isPlatformNotice(QtMsgType type, const QString& text);

class QuietPlatformNotices {
public:
    QuietPlatformNotices();
    ~QuietPlatformNotices();
    QuietPlatformNotices(const QuietPlatformNotices&) = delete;
    QuietPlatformNotices& operator=(const QuietPlatformNotices&) = delete;
};

} // namespace counter
