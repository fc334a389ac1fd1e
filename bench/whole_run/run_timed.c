// Runs one program (a Wine process) and reports its wall time and the page faults it took:
//   run-timed RESULT_FILE TIMEOUT_SECONDS PROGRAM [ARG...]
// RESULT_FILE gets one line "<milliseconds> <cpu milliseconds> <minor faults> <major faults> <peak kB> <status>",
// where the CPU time is user plus system time, the peak is the largest resident set (ru_maxrss), and status is
// the exit status, "signal N", or "timeout" (the program was killed after TIMEOUT_SECONDS). The program inherits
// this program's standard handles. Exits 0 when the line was written, 2 on a usage or system error.
//
// The faults and the peak are the ones wait4() reports for the waited process (the faults are the counters
// /usr/bin/time prints as %R and %F): the process itself plus the children it reaped. Wine starts a Windows child through a fork that exits at
// once (the child is reparented), so the application a setup starts is not counted. The wall time is taken with
// the monotonic clock around fork and wait, with nanosecond resolution rather than /usr/bin/time's 10 ms.
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double secondsNow(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

// Waits for the child's SIGCHLD at most `timeout` seconds; kills it when the time is up. Returns 1 on a timeout.
static int awaitChild(pid_t child, const sigset_t* childSignal, double timeout) {
  struct timespec limit = {(time_t)timeout, (long)((timeout - (double)(time_t)timeout) * 1e9)};
  while (sigtimedwait(childSignal, NULL, &limit) < 0) {
    if (errno == EINTR) continue;
    kill(child, SIGKILL);
    return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: run-timed RESULT_FILE TIMEOUT_SECONDS PROGRAM [ARG...]\n");
    return 2;
  }
  FILE* result = fopen(argv[1], "w");
  if (result == NULL) {
    perror(argv[1]);
    return 2;
  }
  // SIGCHLD stays blocked so that sigtimedwait can take it; the child gets the usual mask back before exec.
  sigset_t childSignal, previous;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  sigprocmask(SIG_BLOCK, &childSignal, &previous);
  const double started = secondsNow();
  const pid_t child = fork();
  if (child < 0) {
    perror("fork");
    return 2;
  }
  if (child == 0) {
    sigprocmask(SIG_SETMASK, &previous, NULL);
    execvp(argv[3], argv + 3);
    perror(argv[3]);
    _exit(127);
  }
  const int timedOut = awaitChild(child, &childSignal, atof(argv[2]));
  int status = 0;
  struct rusage usage;
  while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const double elapsed = secondsNow() - started;
  const double cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
                     (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
  fprintf(result, "%.3f %.3f %ld %ld %ld ", elapsed * 1000.0, cpu, usage.ru_minflt, usage.ru_majflt,
          usage.ru_maxrss);
  if (timedOut) fprintf(result, "timeout\n");
  else if (WIFEXITED(status)) fprintf(result, "%d\n", WEXITSTATUS(status));
  else fprintf(result, "signal %d\n", WTERMSIG(status));
  return fclose(result) == 0 ? 0 : 2;
}
