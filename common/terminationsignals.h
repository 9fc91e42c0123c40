#pragma once
// Being told to end by the system (SIGTERM, Ctrl+C's SIGINT, SIGHUP) is handled in the event
// loop, never inside the signal handler: the handler only writes a byte to a socket pair whose
// other end the loop watches.
#include <QObject>

#include <functional>

namespace ormelin {

// From now on those signals run `handler` in the event loop, under the failure guard, for as
// long as `owner` lives. Returns the end of the socket pair that becomes readable on a signal,
// for a wait outside the event loop to watch as well; -1 when it could not be set up, and then
// the signals keep their default action.
int handleTerminationSignals(QObject *owner, std::function<void()> handler);

} // namespace ormelin
