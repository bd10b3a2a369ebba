#include "FFLoadHooks.h"
namespace tovamo {
void RegisterUnicodeProtocol() {}  // placeholder until the file protocol lands
}
