#include "FFLoadHooks.h"
namespace tovamo {
void CodecLockInstall() {}  // placeholder until the codec lock lands
void CodecLockUninstall() {}
}
