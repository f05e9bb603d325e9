#pragma once
// The default host services: what a member of HostServices becomes when no host
// installed one. Kept apart from the registry so that the registry itself knows none of
// the services it holds.
#include "platform/Services.h"

namespace Services {
// Fills every empty member of `services` with its default.
void FillDefaults(HostServices& services);
}  // namespace Services
