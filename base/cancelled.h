#pragma once

namespace lumivance {

// Thrown once the worker has seen the user's cancel; RunInstall turns it into exit code 1223.
struct Cancelled {};

}  // namespace lumivance
