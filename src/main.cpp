// KORVEN: B and G matrices of molecular vibrations from a deck of cards.
#include <iostream>
#include <string_view>
#include <vector>

#include "driver/command_line.h"
#include "records/fp_trap.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return korven::korven_main(arguments, {std::cin, std::cout, std::cerr, korven::stdin_is_console()});
}
