#include "FFLoadHooks.h"
namespace tovamo {
void HookLog() {}  // placeholder until the log bridge lands
}
