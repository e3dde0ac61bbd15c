#include "app/attempt_loop.h"

namespace lumivance {
namespace {

constexpr std::uint32_t kVisibleStation = 0x0001;  // WSF_VISIBLE

}  // namespace

bool SomeoneCanAnswer(std::uint32_t windowStationFlags)
{
    return (windowStationFlags & kVisibleStation) != 0;
}

}  // namespace lumivance
