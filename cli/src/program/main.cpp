// duvozeviv-cli: programs a module image over one or several serial ports.
#include "cli/cli_program.h"

int main(int argc, char** argv) { return vexel::cli::RunProcess(argc, argv); }
