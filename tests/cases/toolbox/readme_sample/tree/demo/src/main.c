/* A tiny word counter: reads standard input and prints the number of words. */
#include <ctype.h>
#include <stdio.h>

#include "util.h"

int main(void) {
  long words = 0;
  int inWord = 0;
  for (int c; (c = getchar()) != EOF;) {
    // A word starts where a letter follows a space.
    if (isspace(c)) {
      inWord = 0;
    } else if (!inWord) {
      inWord = 1;
      ++words;
    }
  }
  print_count("words", words);
  return 0;
}
