// The exception guard around calls into loaded modules (the Source Manager,
// the sources, the codec modules): a fault raised inside the module
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL) returns control to the caller instead of
// ending the process. The handlers are installed only for the duration of
// the guarded call and the previous ones are restored afterwards; a fault on
// another thread meanwhile is handed back to the handler that was there
// before.
#pragma once

namespace platform {

// Runs fn(context). Returns 0 when it returned normally, or the number of the
// signal that interrupted it (the fault's code). After a fault, whatever the
// interrupted module was doing is abandoned where it stood.
int run_guarded(void (*fn)(void*), void* context);

// True when a debugger (tracer) is attached to the process; guarded callers
// then call without the guard so that the debugger sees the fault.
bool debugger_attached();

}  // namespace platform
