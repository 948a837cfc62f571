/* A stand-in libvlc.so.5 that reports "2.1.5" and exports only the entry
 * points up to that version (no libvlc_audio_output_device_enum). It records
 * the argument vector it was created with. */
#include <stddef.h>
#include <string.h>

static char fake_args[4096];
static int fake_dummy;

const char* fake_libvlc_args(void) {
    return fake_args;
}
const char* libvlc_get_version(void) {
    return "2.1.5 Rincewind";
}

void* libvlc_new(int argc, const char* const* argv) {
    size_t used = 0;
    fake_args[0] = 0;
    for (int i = 0; i < argc; ++i) {
        size_t n = strlen(argv[i]);
        if (used + n + 2 >= sizeof fake_args)
            break;
        memcpy(fake_args + used, argv[i], n);
        used += n;
        fake_args[used++] = '\n';
        fake_args[used] = 0;
    }
    return &fake_dummy;
}
void libvlc_release(void* p) {
    (void)p;
}
int libvlc_event_attach(void* a, int b, void* c, void* d) {
    (void)a;
    (void)b;
    (void)c;
    (void)d;
    return 0;
}
void libvlc_event_detach(void* a, int b, void* c, void* d) {
    (void)a;
    (void)b;
    (void)c;
    (void)d;
}
void libvlc_media_add_option(void* a, const char* b) {
    (void)a;
    (void)b;
}
void libvlc_media_release(void* a) {
    (void)a;
}
char* libvlc_media_get_mrl(void* a) {
    (void)a;
    return NULL;
}
void* libvlc_media_subitems(void* a) {
    (void)a;
    return NULL;
}
void* libvlc_media_player_new(void* a) {
    (void)a;
    return &fake_dummy;
}
void libvlc_media_player_release(void* a) {
    (void)a;
}
void libvlc_media_player_set_media(void* a, void* b) {
    (void)a;
    (void)b;
}
void* libvlc_media_player_get_media(void* a) {
    (void)a;
    return NULL;
}
void* libvlc_media_player_event_manager(void* a) {
    (void)a;
    return &fake_dummy;
}
int libvlc_media_player_is_playing(void* a) {
    (void)a;
    return 0;
}
int libvlc_media_player_play(void* a) {
    (void)a;
    return 0;
}
void libvlc_media_player_pause(void* a) {
    (void)a;
}
void libvlc_media_player_stop(void* a) {
    (void)a;
}
void libvlc_media_player_set_xwindow(void* a, unsigned b) {
    (void)a;
    (void)b;
}
void libvlc_media_player_set_time(void* a, long long b) {
    (void)a;
    (void)b;
}
int libvlc_media_player_get_state(void* a) {
    (void)a;
    return 0;
}
void libvlc_media_list_lock(void* a) {
    (void)a;
}
void libvlc_media_list_unlock(void* a) {
    (void)a;
}
int libvlc_media_list_count(void* a) {
    (void)a;
    return 0;
}
void* libvlc_media_list_item_at_index(void* a, int b) {
    (void)a;
    (void)b;
    return NULL;
}
void libvlc_media_list_release(void* a) {
    (void)a;
}
int libvlc_audio_set_volume(void* a, int b) {
    (void)a;
    (void)b;
    return 0;
}
int libvlc_audio_output_device_set(void* a, const char* b, const char* c) {
    (void)a;
    (void)b;
    (void)c;
    return 0;
}
const char* libvlc_errmsg(void) {
    return NULL;
}
void* libvlc_media_new_path(void* a, const char* b) {
    (void)a;
    (void)b;
    return &fake_dummy;
}
void* libvlc_media_new_location(void* a, const char* b) {
    (void)a;
    (void)b;
    return &fake_dummy;
}
void libvlc_video_set_key_input(void* a, unsigned b) {
    (void)a;
    (void)b;
}
void libvlc_video_set_mouse_input(void* a, unsigned b) {
    (void)a;
    (void)b;
}
void libvlc_video_set_adjust_int(void* a, unsigned b, int c) {
    (void)a;
    (void)b;
    (void)c;
}
void libvlc_video_set_adjust_float(void* a, unsigned b, float c) {
    (void)a;
    (void)b;
    (void)c;
}
void libvlc_media_player_set_video_title_display(void* a, int b, unsigned c) {
    (void)a;
    (void)b;
    (void)c;
}
void libvlc_audio_output_device_list_release(void* a) {
    (void)a;
}
