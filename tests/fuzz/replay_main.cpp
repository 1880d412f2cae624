// Runs a fuzz target over every file of its saved corpus, as an ordinary test.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/ui.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  platform::ui_select(platform::UiKind::NonInteractive);
  DIR* dir = opendir(argv[1]);
  if (!dir) {
    std::fprintf(stderr, "no corpus folder %s\n", argv[1]);
    return 1;
  }
  int count = 0;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::ifstream in(std::string(argv[1]) + "/" + name, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  closedir(dir);
  std::printf("replayed %d inputs\n", count);
  return count > 0 ? 0 : 1;
}
