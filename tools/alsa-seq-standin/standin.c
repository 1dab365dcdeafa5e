/* An ALSA sequencer that is there and does nothing, for a host preloaded with it (LD_PRELOAD) on a machine whose
 * kernel has no sequencer: every call a host makes with a sequencer handle succeeds, no client or port is found, no
 * event ever arrives, and every event sent is dropped. Only the calls that take the handle are answered here; the
 * info and event helpers stay ALSA's own. */
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <sound/asequencer.h>

#define STANDIN __attribute__((visibility("default")))

typedef struct Seq {
  int client;
  int nextPort;
  int idle[2]; /* a pipe nothing is written to: its read end never becomes readable */
} Seq;

static int g_nextClient = 128;

STANDIN int snd_seq_open(Seq** handle, const char* name, int streams, int mode) {
  (void)name, (void)streams, (void)mode;
  Seq* s = calloc(1, sizeof *s);
  if (!s) return -ENOMEM;
  if (pipe(s->idle) != 0) {
    free(s);
    return -errno;
  }
  s->client = __atomic_fetch_add(&g_nextClient, 1, __ATOMIC_RELAXED);
  *handle = s;
  return 0;
}

STANDIN int snd_seq_close(Seq* s) {
  if (!s) return -EINVAL;
  close(s->idle[0]);
  close(s->idle[1]);
  free(s);
  return 0;
}

STANDIN int snd_seq_client_id(Seq* s) { return s->client; }
STANDIN int snd_seq_set_client_name(Seq* s, const char* name) { return (void)s, (void)name, 0; }

STANDIN int snd_seq_create_simple_port(Seq* s, const char* name, unsigned caps, unsigned type) {
  (void)name, (void)caps, (void)type;
  return s->nextPort++;
}
STANDIN int snd_seq_delete_simple_port(Seq* s, int port) { return (void)s, (void)port, 0; }
STANDIN int snd_seq_get_port_info(Seq* s, int port, void* info) { return (void)s, (void)port, (void)info, 0; }
STANDIN int snd_seq_set_port_info(Seq* s, int port, void* info) { return (void)s, (void)port, (void)info, 0; }

/* Nobody else is there. */
STANDIN int snd_seq_query_next_client(Seq* s, void* info) { return (void)s, (void)info, -ENOENT; }
STANDIN int snd_seq_query_next_port(Seq* s, void* info) { return (void)s, (void)info, -ENOENT; }
STANDIN int snd_seq_query_port_subscribers(Seq* s, void* subs) { return (void)s, (void)subs, -ENOENT; }
STANDIN int snd_seq_get_any_client_info(Seq* s, int client, void* info) {
  return (void)s, (void)client, (void)info, -ENOENT;
}
STANDIN int snd_seq_get_any_port_info(Seq* s, int client, int port, void* info) {
  return (void)s, (void)client, (void)port, (void)info, -ENOENT;
}
STANDIN int snd_seq_subscribe_port(Seq* s, void* sub) { return (void)s, (void)sub, 0; }
STANDIN int snd_seq_unsubscribe_port(Seq* s, void* sub) { return (void)s, (void)sub, 0; }

/* Queues: one that stands still at tick 0, 120 beats a minute. */
STANDIN int snd_seq_alloc_queue(Seq* s) { return (void)s, 0; }
STANDIN int snd_seq_free_queue(Seq* s, int q) { return (void)s, (void)q, 0; }
STANDIN int snd_seq_control_queue(Seq* s, int q, int type, int value, void* ev) {
  return (void)s, (void)q, (void)type, (void)value, (void)ev, 0;
}
STANDIN int snd_seq_get_queue_status(Seq* s, int q, struct snd_seq_queue_status* status) {
  (void)s;
  memset(status, 0, sizeof *status);
  status->queue = q;
  return 0;
}
STANDIN int snd_seq_get_queue_tempo(Seq* s, int q, struct snd_seq_queue_tempo* tempo) {
  (void)s;
  memset(tempo, 0, sizeof *tempo);
  tempo->queue = q;
  tempo->tempo = 500000;
  tempo->ppq = 96;
  tempo->skew_value = tempo->skew_base = 0x10000;
  return 0;
}
STANDIN int snd_seq_set_queue_tempo(Seq* s, int q, void* tempo) { return (void)s, (void)q, (void)tempo, 0; }
STANDIN int snd_seq_set_queue_timer(Seq* s, int q, void* timer) { return (void)s, (void)q, (void)timer, 0; }

/* Events: none in, everything out dropped. */
STANDIN int snd_seq_event_input(Seq* s, void** ev) {
  (void)s;
  *ev = NULL;
  return -EAGAIN;
}
STANDIN int snd_seq_event_input_pending(Seq* s, int fetch) { return (void)s, (void)fetch, 0; }
STANDIN int snd_seq_event_output(Seq* s, void* ev) { return (void)s, (void)ev, 0; }
STANDIN int snd_seq_event_output_direct(Seq* s, void* ev) { return (void)s, (void)ev, 0; }
STANDIN int snd_seq_drain_output(Seq* s) { return (void)s, 0; }
STANDIN int snd_seq_drop_output(Seq* s) { return (void)s, 0; }
STANDIN int snd_seq_drop_input(Seq* s) { return (void)s, 0; }
STANDIN int snd_seq_remove_events(Seq* s, void* rm) { return (void)s, (void)rm, 0; }

STANDIN int snd_seq_poll_descriptors_count(Seq* s, short events) { return (void)s, (void)events, 1; }
STANDIN int snd_seq_poll_descriptors(Seq* s, struct pollfd* fds, unsigned space, short events) {
  if (space < 1) return 0;
  fds[0].fd = s->idle[0];
  fds[0].events = events & POLLIN;
  fds[0].revents = 0;
  return 1;
}
