#ifndef UTIL_H
#define UTIL_H

#include <stdio.h>

/* Prints "name: count" on one line. */
static inline void print_count(const char* name, long count) {
  printf("%s: %ld\n", name, count);
}

#endif
