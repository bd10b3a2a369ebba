// Connects the media layer's main-thread hand-over to Qt's event loop: a call queued by a
// worker wakes the loop, which serves the queue; waits on the main thread keep the windows
// painting.
#pragma once

namespace tovamo {

// Call once on the GUI thread after the QApplication exists.
void InstallQtMainThreadBridge();

}  // namespace tovamo
