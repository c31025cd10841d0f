// korvenkit: decks from geometry files, and what a deck describes.
#include "kit/app/cli.h"

int main(int argc, char** argv) { return korven::kit::run_cli(argc, argv); }
