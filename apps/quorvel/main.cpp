#include <iostream>

#include "quorvel/Cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return quorvel::Run(args, std::cout, std::cerr);
}
