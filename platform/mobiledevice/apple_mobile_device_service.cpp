// Stands for the device support installation's background service: the device service only checks
// that a process of this name runs. It waits until it is signalled.
#include <unistd.h>

int main() {
  while (true) pause();
}
