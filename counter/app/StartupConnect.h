#pragma once
// The counter's first connection to its back office. While it cannot be made the operator
// sees why in a dialog and chooses to try again or to quit.

#include "Transport.h"

#include <QString>

#include <functional>
#include <memory>

class QMessageBox;

namespace counter {

// Makes the transport with `make` (which throws std::exception when the back office
// cannot be reached); after each failure asks 重试 or 退出. Null when the operator quits.
// The dialog says what happened in words (a name that does not resolve is said so); the
// technical reason is behind its details, and `failed` is told of it (the transcript keeps
// it). `asking` is told of each dialog before it runs, for tests.
std::unique_ptr<Transport> connectOrAsk(const std::function<std::unique_ptr<Transport>()>& make,
                                        const std::function<void(QMessageBox&)>& asking = {},
                                        const std::function<void(const QString&)>& failed = {});

// The wait pump of a connection being made on the user-interface thread: windows paint and
// timers run under the hourglass, and the operator's input is thrown away.
void paintWhileWaiting();

// The dialog's text for a failure to connect, and for a server name that does not resolve.
QString cannotConnectText();
QString cannotResolveText(const QString& host);

} // namespace counter
