#include "app/settings.h"

namespace qm {

Settings settings;

void ClearSettings() {
  settings = Settings();
}

}  // namespace qm
