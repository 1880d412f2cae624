// The facts of the TWAIN session and the loaded modules that the log header shows.
#include "log/trace.h"

#include "core/app_identity.h"
#include "core/modules.h"
#include "twain/session/session.h"

LogHeaderFacts log_collect_header_facts() {
  LogHeaderFacts facts;
  const twain::Session& s = twain::session();
  facts.state_name = twain::state_name(s.state);
  facts.source_open = s.state > 3;
  if (facts.source_open) {
    facts.source_product = s.source_product;
    facts.source_major = s.source_major;
    facts.source_minor = s.source_minor;
    facts.source_manufacturer = s.source_manufacturer;
  }
  for (const char* name : {"OrvSymbol", "OrvOcr", "OrvCurl", "OrvDcx", "OrvGif", "OrvJpeg",
                           "OrvPdf", "OrvPng", "OrvTiff"}) {
    LogHeaderFacts::Library lib;
    lib.name = name;
    if (const core::LoadedModule* m = core::loaded_module(name)) {
      lib.loaded = true;
      lib.version = m->version;
      lib.path = m->path;
    }
    facts.libraries.push_back(lib);
  }
  return facts;
}

std::string log_application_title() { return core::app_identity().title; }
