// make_dialog_script FILE: writes the dialog templates as a resource script
// (ui/dialog_script.h). Built for the machine that builds, also in a
// cross-build, where the Windows resource compiler then reads FILE.
#include <cstdio>
#include <fstream>

#include "ui/dialog_script.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_dialog_script FILE\n");
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << vexel::DialogsResourceScript();
  out.close();
  if (!out) {
    std::fprintf(stderr, "make_dialog_script: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
