# The program's layers, one static library per folder: app → worker → {download, verify, staging} → base. A
# layer links only the layers below it, and a folder's headers are visible only to targets that link its
# library (or ask for the folder by name): every folder has an include root of its own in the build tree,
# holding one link named after the folder, so `#include "worker/x.h"` resolves only where that root is on
# the include path. An include against the direction fails to compile.

# lumivance_folder_include(<target> <PUBLIC|PRIVATE|INTERFACE> <folder>...): lets <target> include
# "<folder>/x.h" for each folder named, and nothing else of the tree.
function(lumivance_folder_include target scope)
  foreach(folder IN LISTS ARGN)
    set(root "${CMAKE_BINARY_DIR}/include-roots/${folder}")
    if(NOT EXISTS "${root}/${folder}")
      file(MAKE_DIRECTORY "${root}")
      file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} "${root}")
  endforeach()
endfunction()

# lumivance_add_layer(<folder> [SOURCES <src>...] [POSIX_SOURCES <src>...] [WINDOWS_SOURCES <src>...]
#                     [LINKS <lib>...] [WINDOWS_LINKS <lib>...])
# The library lumivance_<folder>: the platform-free sources everywhere, the _win sources in the Windows
# build, the _posix ones in the native build; LINKS are the layers below it, WINDOWS_LINKS the Windows DLLs
# its _win sources call (windows::<dll>).
function(lumivance_add_layer folder)
  cmake_parse_arguments(L "" "" "SOURCES;POSIX_SOURCES;WINDOWS_SOURCES;LINKS;WINDOWS_LINKS" ${ARGN})
  set(sources ${L_SOURCES})
  set(links ${L_LINKS})
  if(WIN32)
    list(APPEND sources ${L_WINDOWS_SOURCES})
    list(APPEND links ${L_WINDOWS_LINKS})
  else()
    list(APPEND sources ${L_POSIX_SOURCES})
  endif()
  set(target lumivance_${folder})
  if(sources)
    add_library(${target} STATIC ${sources})
    lumivance_product_code(${target})
    set(scope PUBLIC)
  else()
    add_library(${target} INTERFACE)  # headers only in this build
    set(scope INTERFACE)
  endif()
  lumivance_folder_include(${target} ${scope} ${folder})
  target_link_libraries(${target} ${scope} ${links})
endfunction()
