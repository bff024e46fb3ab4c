#include "startup/settings.h"
#include "window/form_services.h"

namespace dexalo {

bool StoredSettingsWriter::Write(const ModuleState& state) {
    return WriteSettings(state, program_, storage_, codec_);
}

} // namespace dexalo
