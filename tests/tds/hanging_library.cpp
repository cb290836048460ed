// A procedure library whose xp_hexstr never returns: stands in for a call
// that hangs, to show that varrowd still stops within its shutdown grace.
#include <unistd.h>

extern "C" __attribute__((visibility("default"))) int xp_hexstr(void*) {
  for (;;)
    ::pause();
}
