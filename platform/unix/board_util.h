/* Board utility library: the one routine the update program needs from it. */
#ifndef BOARD_UTIL_H
#define BOARD_UTIL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Creates the file at `path` when it does not exist and sets its times to now, like touch(1).
 * Returns 0, or a negative errno value. */
__attribute__((visibility("default"))) int touch(const char* path);

#ifdef __cplusplus
}
#endif

#endif
