#pragma once

// What the user reads when the staging directory cannot be made or used. The TEMP sentences name the one
// fix: Retry cannot help, since setup keeps the environment it was started with.

namespace lumivance {

// Said when the staging directory cannot be named or made, and by the shell when no worker can be started.
inline constexpr char kCouldNotPrepareInstallation[] = "Could not prepare installation.";
// Elevated, a staging directory that others may change could have its file swapped between verification and
// launch.
inline constexpr char kTempWithoutPermissions[] =
    "Your TEMP folder is on a drive that cannot protect the installer. Set TEMP to a folder on an NTFS drive, then "
    "start Lumivance Setup again.";
// Elevated, on a network share the server decides what the DACL, the locks and the path mean.
inline constexpr char kTempOnNetworkDrive[] =
    "Your TEMP folder is on a network drive that cannot protect the installer. Set TEMP to a folder on a local "
    "drive, then start Lumivance Setup again.";
inline constexpr char kTempFolderTooDeep[] =
    "Your TEMP folder's path is too long to install from. Set TEMP to a shorter folder, then start Lumivance Setup "
    "again.";
// The installer's path, as Windows would take it, leads somewhere other than the directory setup holds (a
// folder name ending in a dot or a space, which Windows drops).
inline constexpr char kTempPathNotStartable[] =
    "Your TEMP folder's path cannot be used to start the installer. Set TEMP to a folder whose names do not end "
    "in a dot or a space, then start Lumivance Setup again.";
// A virus scanner or another program kept the download open for longer than setup waits.
inline constexpr char kDownloadInUse[] = "The download is in use by another program. Please try again.";

}  // namespace lumivance
