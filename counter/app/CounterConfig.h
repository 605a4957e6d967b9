#pragma once
// The counter's back office as a training room sets it: the server's address and the
// certificate it must present, from counter.conf and counter.conf.d/*.conf in the install's
// configuration folder (/etc/marlo for a /usr prefix), then from the same in the user's
// ~/.config/marlo, each a file of "key = value" lines. A later file overrides an
// earlier one key by key; the command line overrides them all.

#include <QString>
#include <QStringList>

namespace counter {

struct CounterConfig {
    QString backoffice; // tls://HOST:PORT or tcp://HOST:PORT; empty: the embedded back office
    QString ca;         // the certificate file, absolute
    // "FILE:LINE: reason" for each line that is no setting or names an unknown key.
    QStringList errors;

    // The room's files, then the user's (under $XDG_CONFIG_HOME, default ~/.config).
    static QStringList defaultFiles();
    // BASE/counter.conf, then BASE/counter.conf.d/*.conf in the order of their names.
    static QStringList filesOf(const QString& base);
    // Reads the files in order; a missing file is skipped, an unreadable one is an error.
    static CounterConfig load(const QStringList& files = defaultFiles());
};

// Tells the errors on standard error and, on a display, in a dialog (the counter started
// from the menu has no terminal).
void reportConfigErrors(const QStringList& errors, bool dialog);

} // namespace counter
