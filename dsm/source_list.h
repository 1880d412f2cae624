// Finding, loading and listing the data sources.
//
// Sources are shared objects named *.ds exporting DS_Entry, searched in this
// order: the folder "twain" beside the program, the folders of
// QUILLET_TWAIN_PATH (colon-separated), /usr/local/lib/twain. Each folder is
// searched with its subfolders, names in byte order; a file reached twice (the
// same folder named twice, a link) is loaded once. Every device a module
// presents (see dsm/source_protocol.h) becomes one listed device.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "dsm/source_protocol.h"
#include "orivane/twain.h"
#include "platform/module.h"

namespace dsm {

struct SourceModule {
  platform::ModuleHandle handle = nullptr;
  std::string path;
  DSENTRYPROC entry = nullptr;
  DS_SELECTDEVICEPROC select_device = nullptr;  // null: presents one device
  TW_UINT32 protocol_flags = 0;                 // DS_PROTOCOL_ bits
  DS_SETHOSTFORMPROC set_host_form = nullptr;   // null: shows no dialog of ours
  // False while a source listed on demand has not been asked for its
  // devices yet.
  bool listed = true;
};

struct Device {
  // Id assigned by the Source Manager. A product name the source wrote past
  // its field keeps only the field's 34 bytes (then without a terminator).
  TW_IDENTITY identity{};
  std::size_t module = 0;  // index into SourceList::modules
  TW_UINT32 index = 0;     // the device's index inside its module
};

struct SourceList {
  std::vector<SourceModule> modules;
  std::vector<Device> devices;
};

// The folders searched, in order (existing or not): twain/ beside the
// program, those of QUILLET_TWAIN_PATH, the installed program's TWAIN folder
// (<prefix>/lib/twain), /usr/local/lib/twain.
std::vector<std::string> source_folders();

// Loads every source found and lists its devices. `app` is the origin passed
// to sources that are asked for their identity through DS_Entry; `next_id`
// gives the devices their Ids and is advanced.
SourceList source_list_scan(const TW_IDENTITY& app, TW_UINT32& next_id);

// Lists the devices of the sources listed on demand that were not asked
// yet, after the devices listed so far (Ids from `next_id`). True when that
// added a device.
bool source_list_on_demand(SourceList& list, TW_UINT32& next_id);
// Whether a source listed on demand was not asked for its devices yet.
bool source_list_pending(const SourceList& list);

// Unloads the modules and empties the list.
void source_list_unload(SourceList& list);

// The application's form function (null: none), handed to every source that
// takes it: the modules loaded now (caller holds the lock) and those loaded
// later.
void source_list_set_host_form(SourceList& list, DS_HOSTFORMPROC form);

// Copies a device's identity to `out`: exactly the 156 bytes of a
// TW_IDENTITY, never more, whatever the source wrote when it was listed.
void device_copy_identity(const Device& device, TW_IDENTITY* out);

// Length of the bytes a source wrote past the identity in `area` (a
// TW_IDENTITY followed by DS_IDENTITY_TAIL_BYTES bytes that were zero before
// the source wrote): up to and with the terminator, 0 when nothing was
// written. Such bytes stay in the Source Manager; they are only logged.
std::size_t identity_tail_length(const unsigned char* tail);

}  // namespace dsm
