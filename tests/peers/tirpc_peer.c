/* The peer program's command line and the scenario registry. */
#include "tirpc_peer.h"

#include <string.h>

static struct peer_scenario *scenarios;

void peer_register(struct peer_scenario *scenario) {
  scenario->next = scenarios;
  scenarios = scenario;
}

static struct peer_scenario *find_scenario(const char *name) {
  for (struct peer_scenario *s = scenarios; s != NULL; s = s->next)
    if (strcmp(s->name, name) == 0) return s;
  return NULL;
}

static int usage(void) {
  fprintf(stderr,
          "usage: tirpc_peer encode|decode SCENARIO FILE\n"
          "       tirpc_peer list\n");
  return 2;
}

static int run(const char *command, struct peer_scenario *s, const char *path) {
  int encoding = strcmp(command, "encode") == 0;
  FILE *file = fopen(path, encoding ? "wb" : "rb");
  if (file == NULL) {
    perror(path);
    return 1;
  }
  XDR xdrs;
  xdrstdio_create(&xdrs, file, encoding ? XDR_ENCODE : XDR_DECODE);
  int rc = encoding ? s->encode(&xdrs) : s->decode(&xdrs, stdout);
  xdr_destroy(&xdrs);
  if (fclose(file) != 0) rc = 1;
  return rc;
}

int main(int argc, char **argv) {
  if (argc == 2 && strcmp(argv[1], "list") == 0) {
    for (struct peer_scenario *s = scenarios; s != NULL; s = s->next)
      printf("%s\n", s->name);
    return 0;
  }
  if (argc != 4 ||
      (strcmp(argv[1], "encode") != 0 && strcmp(argv[1], "decode") != 0))
    return usage();
  struct peer_scenario *s = find_scenario(argv[2]);
  if (s == NULL) {
    fprintf(stderr, "tirpc_peer: no scenario \"%s\"\n", argv[2]);
    return 2;
  }
  return run(argv[1], s, argv[3]);
}
