// KORVEN: B and G matrices of molecular vibrations from a deck of cards.
#include <iostream>

#include "driver/run.h"
#include "records/fp_trap.h"

int main() {
  std::ios::sync_with_stdio(false);
  return korven::run_korven({std::cin, std::cout, std::cerr, korven::stdin_is_console()});
}
