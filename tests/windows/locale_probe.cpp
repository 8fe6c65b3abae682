// Exits 0 when the user's decimal separator is the one given: the user's
// locale comes from the environment Wine starts the program in.
//   locale_probe SEPARATOR

#include "platform/locale_info.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  return loopmon::userDecimalSeparator() == argv[1][0] ? 0 : 1;
}
