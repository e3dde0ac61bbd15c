# cmake -DOUTPUT=<header> -DVERSION=<x.y.z> -DHOST=<name> [-DPORT=..] [-DX64_INSTALLER=..|-DX64_SHA256=.. -DX64_SIZE=..]
#       [-DARM64_INSTALLER=..|-DARM64_SHA256=.. -DARM64_SIZE=..] -P WriteReleaseConfig.cmake
# Writes the release header at build time, for variants pinned to installers that the build itself makes.
include("${CMAKE_CURRENT_LIST_DIR}/ReleaseConfig.cmake")
foreach(v VERSION HOST PORT X64_INSTALLER X64_SHA256 X64_SIZE ARM64_INSTALLER ARM64_SHA256 ARM64_SIZE)
  if(NOT DEFINED ${v})
    set(${v} "")
  endif()
endforeach()
lumivance_write_release_header(OUTPUT "${OUTPUT}" VERSION "${VERSION}" HOST "${HOST}" PORT "${PORT}"
  X64_INSTALLER "${X64_INSTALLER}" X64_SHA256 "${X64_SHA256}" X64_SIZE "${X64_SIZE}"
  ARM64_INSTALLER "${ARM64_INSTALLER}" ARM64_SHA256 "${ARM64_SHA256}" ARM64_SIZE "${ARM64_SIZE}")
