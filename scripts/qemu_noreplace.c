/* Preloaded into Wine's processes where qemu-i386 runs 32-bit code. The
 * emulator takes MAP_FIXED_NOREPLACE for a hint and maps elsewhere when the
 * address is taken, where the kernel says EEXIST. Wine's 32-bit loader, which
 * reserves its address space by trying ever smaller pieces, then takes every
 * such answer for a piece of its own and goes on 64 KiB at a time: about 84 s
 * of emulated work for each process it starts. With the kernel's answer
 * restored it splits around what is taken, as it does without the emulator.
 * No C library headers: built for both x86 widths by scripts/wine-run, with
 * any C compiler that targets them. */
extern void* dlsym(void*, const char*);
extern int munmap(void*, unsigned long);
extern int* __errno_location(void);
#define RTLD_NEXT ((void*)-1l)
#define MAP_FIXED_NOREPLACE 0x100000
#define MAP_FAILED ((void*)-1)
#define EEXIST 17

static void* AsTheKernelAnswers(void* wanted, void* got, unsigned long length, int flags) {
  if ((flags & MAP_FIXED_NOREPLACE) && got != MAP_FAILED && got != wanted) {
    munmap(got, length);
    *__errno_location() = EEXIST;
    return MAP_FAILED;
  }
  return got;
}

typedef void* (*Mmap64)(void*, unsigned long, int, int, int, long long);
void* mmap64(void* address, unsigned long length, int protection, int flags, int fd,
             long long offset) {
  static Mmap64 next;
  if (!next) next = (Mmap64)dlsym(RTLD_NEXT, "mmap64");
  return AsTheKernelAnswers(address, next(address, length, protection, flags, fd, offset), length,
                            flags);
}

/* At 32 bits the plain call takes a 32-bit offset; at 64 bits the two are one. */
typedef void* (*Mmap)(void*, unsigned long, int, int, int, long);
void* mmap(void* address, unsigned long length, int protection, int flags, int fd, long offset) {
  static Mmap next;
  if (!next) next = (Mmap)dlsym(RTLD_NEXT, "mmap");
  return AsTheKernelAnswers(address, next(address, length, protection, flags, fd, offset), length,
                            flags);
}
