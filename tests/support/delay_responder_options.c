/* The delaying responder's options (delay_responder.c describes them). */
#include "delay_responder.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct settings config = {NULL, 53, 5, 0.0, 1, 60, 0, 0, 0};

static int is_loopback(const char *address) {
  struct in_addr v4;
  struct in6_addr v6;
  if (inet_pton(AF_INET, address, &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  if (inet_pton(AF_INET6, address, &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return 0;
}

static int usage(const char *problem) {
  fprintf(stderr,
          "delay_responder: %s\n"
          "usage: delay_responder --address A [--port P] [--delay-ms D] [--drop-percent X] [--seed S]\n"
          "                       [--lifetime-s T] [--fold-case] [--truncate] [--no-tcp]\n",
          problem);
  return 2;
}

/* A whole-number option within [low, high]; 0 when the text is not one. */
static int number_option(const char *text, long low, long high, long *out) {
  char *end;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != 0 || value < low || value > high) return 0;
  *out = value;
  return 1;
}

int read_options(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const char *option = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : NULL;
    long number;
    if (strcmp(option, "--fold-case") == 0) {
      config.fold_case = 1;
      continue;
    }
    if (strcmp(option, "--truncate") == 0) {
      config.truncate = 1;
      continue;
    }
    if (strcmp(option, "--no-tcp") == 0) {
      config.no_tcp = 1;
      continue;
    }
    if (value == NULL) return usage("an option without its value");
    ++i;
    if (strcmp(option, "--address") == 0) {
      config.address = value;
    } else if (strcmp(option, "--port") == 0) {
      if (!number_option(value, 1, 65535, &number)) return usage("--port takes 1..65535");
      config.port = (int)number;
    } else if (strcmp(option, "--delay-ms") == 0) {
      if (!number_option(value, 0, 60000, &config.delay_ms)) return usage("--delay-ms takes 0..60000");
    } else if (strcmp(option, "--lifetime-s") == 0) {
      if (!number_option(value, 1, 3600, &config.lifetime_s)) return usage("--lifetime-s takes 1..3600");
    } else if (strcmp(option, "--drop-percent") == 0) {
      char *end;
      config.drop_percent = strtod(value, &end);
      if (end == value || *end != 0 || !(config.drop_percent >= 0 && config.drop_percent <= 100))
        return usage("--drop-percent takes 0..100");
    } else if (strcmp(option, "--seed") == 0) {
      char *end;
      errno = 0;
      config.seed = strtoull(value, &end, 0);
      if (errno != 0 || end == value || *end != 0) return usage("--seed takes a whole number");
    } else {
      return usage("unknown option");
    }
  }
  if (config.address == NULL) return usage("--address is required");
  if (!is_loopback(config.address)) return usage("loopback addresses only (127.0.0.0/8, ::1)");
  return 0;
}
