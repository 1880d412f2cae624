// Folders and names the system takes from its surroundings.
#pragma once
#include <string>
#include <vector>

namespace platform {

// The temporary folder: $TMPDIR when set and not empty, else "/tmp". No
// trailing slash.
std::string temp_folder();
// The current working folder ("" if it cannot be read).
std::string current_folder();
// Full path of the running program (/proc/self/exe).
std::string program_path();
// Full path of the module (program or shared object) that holds `address`;
// empty if unknown.
std::string module_path_of(const void* address);
// Folder of the module that holds the library (no trailing slash).
std::string library_folder();
// The folders of an installed program's parts: the program's own folder
// joined with the path the build's install layout gives from the program
// folder to each (bin/ -> ../lib/quillet, ../lib/twain, ../share/doc/quillet),
// without "." or ".." steps. A program run from its build tree gets folders
// that do not exist there. Empty when the program's path is unknown.
std::string installed_module_folder();  // the Source Manager and the codecs
std::string installed_source_folder();  // the TWAIN data sources
std::string installed_doc_folder();     // the help page
// The folders a module of the program (a codec, an engine, the Source
// Manager) is looked for in, in order: the library's own folder, then the
// installed module folder. Each appears once; none is empty.
std::vector<std::string> module_folders();
// The per-user runtime folder for sockets and the trace log: $XDG_RUNTIME_DIR
// if set, usable and private (a folder, not a link, owned by the user, no
// access for group or others), else /tmp/Talven-<uid>, created with mode 0700
// and held to the same test. Empty when neither qualifies.
std::string runtime_folder();
// The per-user settings file of an application: $XDG_CONFIG_HOME (default
// ~/.config) + "/Talven/<app>.ini". The folder is not created here.
std::string config_file(const std::string& app);
// Logon name of the current user (at most 256 characters); "" if unknown.
std::string user_name();
// Creates a folder and its missing parents. True if it exists afterwards;
// on failure `out_errno` (if given) receives the error number.
bool make_folders(const std::string& path, int* out_errno = nullptr);
// One-line description of the operating system (name, release, machine).
std::string os_description();

}  // namespace platform
