#pragma once

#include <memory>

class RunOutcomeSlot;
class UpdaterThread;

// Keeps the process alive through exit() while an update run is under way.
// The toolkit ends the process with exit() when it loses its display (the X
// server or the session gone); the run's thread would die with it, the flash
// half erased. Instead an exit handler waits for the run to end, complete and
// verified or failed, writes one line on standard error saying how it ended,
// and ends the process with status 1.
namespace runlifeline {

// Follows worker's run from the worker's own thread, which goes on when the
// window's event loop no longer runs; the last line said is the one of the
// outcome the run publishes. Call on the GUI thread before the run's thread
// starts.
void follow(UpdaterThread *worker, std::shared_ptr<const RunOutcomeSlot> outcome);

} // namespace runlifeline
