// Process entry of quillmet: sets the runtime up, runs AppMain and takes everything
// down again. The clean-up is registered to run at exit and is also run here
// directly (it is idempotent), so process-wide state is released on every way out.
// The exit status is always 0.
#include <cstdlib>

#include "app/command_line.h"
#include "app/file_intake.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "core/object_pool.h"
#include "core/runtime_lock.h"

namespace {

void CleanUp() {
  qm::ClearSettings();
  qm::ClearRunState();
  qm::ReleaseIntakeBuffers();
}

}  // namespace

int main(int argc, char** argv) {
  qm::RuntimeLock::Create();
  std::atexit(CleanUp);
  const int status = qm::AppMain(argc, argv);
  CleanUp();
  qm::TeardownAllPools();
  qm::RuntimeLock::Destroy();
  return status;
}
