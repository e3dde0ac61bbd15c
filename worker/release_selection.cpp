#include "worker/release_selection.h"

#include <stdexcept>

#include "catalogue.h"
#include "worker/release_table.h"

namespace lumivance {

const ReleaseAsset& ChooseRelease(const ArchitectureObservations& observed)
{
    if (observed.nativeMachine == kMachineArm64) {
        return kArm64Release;
    }
    if (observed.nativeMachine == kMachineAmd64) {
        return kX64Release;
    }
    switch (observed.processorArchitecture) {
    case kProcessorArchitectureArm64:
        return kArm64Release;
    case kProcessorArchitectureAmd64:
        return kX64Release;
    default:
        throw std::runtime_error(kUnsupportedMachine);
    }
}

}  // namespace lumivance
