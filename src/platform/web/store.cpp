// In a browser the folder's hooks are the page's (web/library_storage.js); only
// the rename is left to the C library here.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include "platform/store.h"

// The browser's C library has no renameat2: the name is tested first, which
// holds as long as the lock is, and nothing but the game writes in its folder.
int move_unless_taken(int dir_fd, const char* from, const char* to)
{
    struct stat status;
    if (fstatat(dir_fd, to, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return renameat(dir_fd, from, dir_fd, to);
}
