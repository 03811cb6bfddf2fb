/* libmpdclient against a speaker: connect, status, queue, idle. Arguments: host, port, URL. */
#include <mpd/client.h>

#include <stdio.h>
#include <stdlib.h>

static void check(int ok, const char *what, struct mpd_connection *c) {
    if (!ok) {
        fprintf(stderr, "%s failed: %s\n", what, c ? mpd_connection_get_error_message(c) : "");
        exit(1);
    }
}

int main(int argc, char **argv) {
    if (argc != 4)
        return 2;
    const unsigned port = (unsigned)atoi(argv[2]);
    struct mpd_connection *c = mpd_connection_new(argv[1], port, 10000);
    struct mpd_connection *other = mpd_connection_new(argv[1], port, 10000);
    check(c && mpd_connection_get_error(c) == MPD_ERROR_SUCCESS, "connect", c);
    check(other && mpd_connection_get_error(other) == MPD_ERROR_SUCCESS, "connect", other);

    struct mpd_status *status = mpd_run_status(c);
    check(status != NULL, "status", c);
    const unsigned length = mpd_status_get_queue_length(status);
    mpd_status_free(status);

    const int id = mpd_run_add_id(c, argv[3]);
    check(id > 0, "addid", c);
    check(mpd_send_list_queue_meta(c), "playlistinfo", c);
    unsigned songs = 0;
    int found = 0;
    for (struct mpd_song *song; (song = mpd_recv_song(c)) != NULL; mpd_song_free(song)) {
        ++songs;
        found |= mpd_song_get_id(song) == (unsigned)id;
    }
    check(mpd_response_finish(c) && found && songs == length + 1, "queue", c);

    check(mpd_send_idle_mask(c, MPD_IDLE_MIXER), "idle", c);
    check(mpd_run_set_volume(other, 33), "setvol", other);
    check(mpd_recv_idle(c, false) & MPD_IDLE_MIXER, "idle wake", c);
    mpd_connection_free(other);
    mpd_connection_free(c);
    puts("libmpdclient ok");
    return 0;
}
