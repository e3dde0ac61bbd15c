#pragma once

#include <cstdint>

// What setup's download asks for, how long it waits and what it tells the user: compiled into the exe, and
// read by scripts/release-check (scripts/download_facts.py), which must judge a host exactly as setup will.
// That script reads each constant with a strict pattern and fails when one is missing: keep their form.
namespace lumivance::download_facts {

inline constexpr wchar_t kUserAgent[] = L"Lumivance Installer/1";
inline constexpr int kTimeoutMs = 15'000;
inline constexpr std::uint64_t kBodyTimeLimitMs = 600'000;

// Failures are reported by the stage they happen in, not by their cause.
inline constexpr char kCouldNotConnect[] = "Could not connect. Check your internet connection and try again.";
inline constexpr char kCouldNotPrepare[] = "Could not prepare a secure download.";
inline constexpr char kRequestInterrupted[] =
    "The download was interrupted. Check your internet connection and try again.";
inline constexpr char kUnavailable[] = "The installer is temporarily unavailable. Please try again shortly.";
inline constexpr char kCouldNotSave[] = "Could not save the installer. Check your available disk space.";
inline constexpr char kTookTooLong[] = "The download took too long. Please try again on a faster connection.";
inline constexpr char kBodyInterrupted[] = "The download was interrupted. Please try again.";
inline constexpr char kTooLong[] = "The download could not be verified. Nothing was installed.";
inline constexpr char kIncomplete[] = "The download is incomplete. Please try again.";

}  // namespace lumivance::download_facts
