/* Runs under Wine to show that the machine can run programs of the
   architecture it was built for: prints its pointer size and ends with 0. */
#include <stdio.h>

int main(void) {
  printf("winebench_probe: %u-bit\n", (unsigned)(sizeof(void*) * 8));
  return 0;
}
