# The system libraries Dral builds against, as the targets Dral::xxhash (headers only: xxHash is
# compiled inline), Dral::zstd, Dral::lz4 and Dral::snappy. pkg-config is asked first, so that a
# prefix given by PKG_CONFIG_PATH (the wheel build's static archives) wins; without pkg-config,
# or where it does not know a library, CMake's own search looks in the usual places and in
# CMAKE_PREFIX_PATH. A library found nowhere stops the configure step with the package to install,
# not with a compiler error later.

find_package(PkgConfig QUIET)

# dral_require_library(NAME PKG <pkg-config module> HEADER <header> [LIBRARY <name>]
#                      PACKAGE <Debian package>)
# also sets DRAL_<NAME>_INCLUDE_DIRS: the header's folder, unless the compiler searches it anyway.
function(dral_require_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PKG;HEADER;LIBRARY;PACKAGE" "")
  set(target Dral::${name})
  if(TARGET ${target})
    return()
  endif()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set(hint "install it with apt-get install ${arg_PACKAGE} (on other systems: the ${name}\
 development package), or add the prefix it is installed in to CMAKE_PREFIX_PATH")

  if(PKG_CONFIG_FOUND)
    pkg_check_modules(DRAL_PC_${name} QUIET IMPORTED_TARGET ${arg_PKG})
  endif()
  if(DRAL_PC_${name}_FOUND)
    find_path(DRAL_${name}_INCLUDE_DIR ${arg_HEADER} HINTS ${DRAL_PC_${name}_INCLUDE_DIRS}
              NO_CACHE)
    if(NOT DRAL_${name}_INCLUDE_DIR)
      message(FATAL_ERROR "${arg_PACKAGE} (${arg_HEADER}) not found: pkg-config knows\
 ${arg_PKG}, but its headers are missing; ${hint}")
    endif()
    set(include_dirs ${DRAL_PC_${name}_INCLUDE_DIRS})
    if(arg_LIBRARY)
      target_link_libraries(${target} INTERFACE PkgConfig::DRAL_PC_${name})
    endif()
    message(STATUS "${name}: ${arg_PKG} ${DRAL_PC_${name}_VERSION}, from pkg-config")
  else()
    find_path(DRAL_${name}_INCLUDE_DIR ${arg_HEADER})
    if(NOT DRAL_${name}_INCLUDE_DIR)
      message(FATAL_ERROR "${arg_PACKAGE} (${arg_HEADER}) not found: ${hint}")
    endif()
    set(include_dirs ${DRAL_${name}_INCLUDE_DIR})
    if(arg_LIBRARY)
      find_library(DRAL_${name}_LIBRARY ${arg_LIBRARY})
      if(NOT DRAL_${name}_LIBRARY)
        message(FATAL_ERROR "${arg_PACKAGE} (lib${arg_LIBRARY}) not found: its header is in\
 ${DRAL_${name}_INCLUDE_DIR}, the library is missing; ${hint}")
      endif()
      target_link_libraries(${target} INTERFACE ${DRAL_${name}_LIBRARY})
    endif()
    message(STATUS "${name}: ${DRAL_${name}_INCLUDE_DIR}/${arg_HEADER} ${DRAL_${name}_LIBRARY}")
  endif()
  # An explicit -I of a folder the compiler already searches would reorder its own headers.
  if(include_dirs AND CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES)
    list(REMOVE_ITEM include_dirs ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
  endif()
  target_include_directories(${target} INTERFACE ${include_dirs})
  set(DRAL_${name}_INCLUDE_DIRS ${include_dirs} PARENT_SCOPE)
endfunction()

dral_require_library(xxhash PKG libxxhash HEADER xxhash.h PACKAGE libxxhash-dev)
dral_require_library(zstd PKG libzstd HEADER zstd.h LIBRARY zstd PACKAGE libzstd-dev)
dral_require_library(lz4 PKG liblz4 HEADER lz4.h LIBRARY lz4 PACKAGE liblz4-dev)
dral_require_library(snappy PKG snappy HEADER snappy-c.h LIBRARY snappy PACKAGE libsnappy-dev)
