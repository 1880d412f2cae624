// PLACEHOLDER so the tree links while the acquisition engine is written;
// deleted by the engine's author in the same step that adds the real code.
#include "twain/acquire.h"

int TWAIN_PreAcquire(uintptr_t) { return 0; }
void TWAIN_WaitForXfer(uintptr_t) {}
uintptr_t TWAIN_WaitForNativeXfer(uintptr_t) { return 0; }
void TWAIN_PostAcquire(void) {}
namespace twain {
void end_transfer() {}
}  // namespace twain
