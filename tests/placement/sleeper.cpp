// A program that stays alive until it is ended, started from a target path to hold its file the way a running
// application does.
#include <windows.h>

int main() {
  Sleep(120000);
  return 0;
}
