#pragma once

namespace lumivance {

// What the user reads when the download is not exactly the pinned file. The workflow says the same when it
// cannot hold the downloaded file still for the verification.
inline constexpr char kDownloadNotVerified[] =
    "The download could not be verified. Nothing was installed. Please try again.";

}  // namespace lumivance
