// qvinspect: prints a setup script as JSON and verifies its file data.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/inspect/inspect.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string out, err;
  int status;
  try {
    status = qvinspect::RunInspect(args, out, err);
  } catch (const std::exception& e) {
    err += std::string("qvinspect: ") + e.what() + "\n";
    status = 1;
  }
  std::fputs(out.c_str(), stdout);
  std::fputs(err.c_str(), stderr);
  return status;
}
