/* Preloaded into the test programs under ThreadSanitizer (scripts/sanitize thread).
 *
 * Qt 6.4's QProcess starts a child with clone(CLONE_VM | CLONE_VFORK): until it
 * calls exec, the child runs on the parent's memory. ThreadSanitizer does not
 * intercept clone, so the sanitizer's interceptors that the child goes through
 * (close, dup2, sigaction...) write into the parent's records of the calling
 * thread. After the first QProcess start the sanitizer then reports races between
 * accesses that a mutex orders ("previous write ... failed to restore the stack")
 * and forgets mutexes, in code that has nothing to do with the child.
 * ThreadSanitizer replaces vfork() with fork() for this reason; this does the same
 * for a clone that makes a new process sharing memory until exec: the child is made
 * with fork() (through the sanitizer's interceptor) and runs the same function. A
 * pidfd asked for with CLONE_PIDFD is opened for the new process. Every other clone
 * goes to the C library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sched.h>
#include <signal.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

typedef int (*clone_fn)(int (*)(void*), void*, int, void*, ...);

int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
    va_list ap;
    va_start(ap, arg);
    pid_t* ptid = va_arg(ap, pid_t*);
    void* tls = va_arg(ap, void*);
    pid_t* ctid = va_arg(ap, pid_t*);
    va_end(ap);
    const int process_sharing_memory = CLONE_VM | CLONE_VFORK;
    const int known = process_sharing_memory | CLONE_PIDFD | CSIGNAL;
    if ((flags & process_sharing_memory) != process_sharing_memory || (flags & ~known) != 0 ||
        (flags & CSIGNAL) != SIGCHLD) {
        clone_fn real = (clone_fn)dlsym(RTLD_NEXT, "clone");
        if (real == NULL) {
            errno = ENOSYS;
            return -1;
        }
        return real(fn, stack, flags, arg, ptid, tls, ctid);
    }
    const pid_t pid = fork();
    if (pid == 0)
        _exit(fn(arg));
    if (pid > 0 && (flags & CLONE_PIDFD) != 0) {
        const int pidfd = (int)syscall(SYS_pidfd_open, pid, 0);
        if (pidfd < 0) {
            const int error = errno;
            kill(pid, SIGKILL);
            waitpid(pid, NULL, 0);
            errno = error;
            return -1;
        }
        *(int*)ptid = pidfd;
    }
    return pid;
}
