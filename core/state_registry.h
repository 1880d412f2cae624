// The inventory of the process's state. Every subsystem keeps its state in a
// few explicit objects behind accessors; each of them registers here, in the
// file that defines it, with the two ways it can be put back:
// - `reset`: back to what a fresh process has (between tests, so that no test
//   sees what another left);
// - `reset_all`: what TWAIN_ResetAll does to it, or nothing when the state
//   survives that call (the language, the trace, the loaded modules...).
// Both resets walk this one list, so a new subsystem cannot be forgotten by
// one of them.
#pragma once
#include <string>
#include <vector>

namespace core {

// When a state is reset among the others: the resets of the plain states may
// still use what a resource holds (a loaded module, a window) and may record
// errors, so resources go after them and the error record goes last.
enum class ResetStage { Plain = 0, Resource = 1, Last = 2 };

struct StateEntry {
  const char* name = "";                 // "<folder>.<state>", e.g. "fileio.output_settings"
  void (*reset)() = nullptr;             // back to a fresh process's value; nullptr: a
                                         // process resource that is never reset
  void (*reset_all)() = nullptr;         // TWAIN_ResetAll's part; nullptr: survives it
  ResetStage stage = ResetStage::Plain;
};

// Adds `entry` to the inventory; true, so that a file registers its state with
// `const bool kRegistered = core::register_state({...});`.
bool register_state(const StateEntry& entry);

// The registered states by stage, each stage in the order of registration.
std::vector<StateEntry> registered_states();

// Puts every registered state back to a fresh process's value.
void reset_states();
// Does TWAIN_ResetAll's part of every state that does not survive it.
void reset_states_for_reset_all();

}  // namespace core
