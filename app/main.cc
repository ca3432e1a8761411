// Process entry of quillmet: sets the runtime up, runs AppMain and takes everything
// down again. The clean-up is registered to run at exit and is also run here
// directly (it is idempotent), so process-wide state is released on every way out.
// The exit status is AppMain's: 0 success, 1 report produced but something named
// could not be used, 2 invalid command line.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "app/command_line.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "core/object_pool.h"
#include "core/runtime_lock.h"

namespace {

void CleanUp() {
  qm::ClearSettings();
  qm::ClearRunState();
}

// A standard descriptor that was closed gets /dev/null opened the wrong way round,
// so that no file the run opens takes its number (and receives the report), and
// every use of it fails as on a closed descriptor (EBADF).
void KeepStandardDescriptorsTaken() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) continue;
    const int opened = open("/dev/null", descriptor == 0 ? O_WRONLY : O_RDONLY);
    if (opened >= 0 && opened != descriptor) {
      dup2(opened, descriptor);
      close(opened);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Blocks of 256 KiB and more (file buffers) are mapped on their own and unmapped when
  // freed, whatever their size: the allocator's default would keep freed large blocks
  // in its heaps, where under an address-space limit another thread's buffer could not
  // use them.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  // A closed pipe ends the run silently, as for any filter (quillmet ... | head -1).
  std::signal(SIGPIPE, SIG_DFL);
  KeepStandardDescriptorsTaken();
  qm::RuntimeLock::Create();
  std::atexit(CleanUp);
  const int status = qm::AppMain(argc, argv);
  CleanUp();
  qm::TeardownAllPools();
  qm::RuntimeLock::Destroy();
  return status;
}
