/* Times how soon a program's first line of standard output arrives: first_line RUNS FILE PROGRAM
   [ARGUMENT...] starts the program RUNS times with FILE as its standard input and prints, as one
   JSON object, the median seconds from the start to the first line feed read from its standard
   output, and to the end of the run (its output read to the end and the process reaped). hyperfine
   times whole runs only; a streamed answer is worth its first line. */
#define _POSIX_C_SOURCE 200809L
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int compare(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fputs("usage: first_line RUNS FILE PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  const int runs = atoi(argv[1]);
  double* first = calloc((size_t)runs, sizeof(double));
  double* whole = calloc((size_t)runs, sizeof(double));
  if (runs < 1 || first == NULL || whole == NULL) return 2;
  for (int run = 0; run < runs; ++run) {
    int out[2];
    if (pipe(out) != 0) return 2;
    const double start = now();
    const pid_t child = fork();
    if (child == 0) {
      const int in = open(argv[2], O_RDONLY);
      if (in < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(out[1], STDOUT_FILENO) < 0) _exit(127);
      close(out[0]);
      execv(argv[3], argv + 3);
      _exit(127);
    }
    close(out[1]);
    char buffer[65536];
    ssize_t got;
    first[run] = -1;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0) {
      if (first[run] < 0 && memchr(buffer, '\n', (size_t)got) != NULL) first[run] = now() - start;
    }
    close(out[0]);
    int status;
    waitpid(child, &status, 0);
    whole[run] = now() - start;
    if (first[run] < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      fprintf(stderr, "%s printed no line or failed\n", argv[3]);
      return 1;
    }
  }
  qsort(first, (size_t)runs, sizeof(double), compare);
  qsort(whole, (size_t)runs, sizeof(double), compare);
  printf("{\"firstLine\": %.9f, \"whole\": %.9f}\n", first[runs / 2], whole[runs / 2]);
  return 0;
}
