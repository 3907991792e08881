# Cross-compiles Dorvane for macOS on Debian with clang 16, lld 16 and llvm 16 against an Apple
# SDK sysroot. One architecture per build tree (CMAKE_OSX_ARCHITECTURES arm64 or x86_64): the
# universal app is two such builds joined by scripts/build-macos.
#   DORVANE_MACOS_SDK  the sysroot (cache variable or environment; default
#                      ~/.cache/dorvane/macos-sdk)
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 22.0)

if(NOT DORVANE_MACOS_SDK)
  if(DEFINED ENV{DORVANE_MACOS_SDK})
    set(DORVANE_MACOS_SDK "$ENV{DORVANE_MACOS_SDK}")
  else()
    set(DORVANE_MACOS_SDK "$ENV{HOME}/.cache/dorvane/macos-sdk")
  endif()
endif()
if(NOT EXISTS "${DORVANE_MACOS_SDK}/usr/lib/libSystem.tbd")
  message(FATAL_ERROR "No macOS SDK sysroot at ${DORVANE_MACOS_SDK}")
endif()
set(DORVANE_MACOS_SDK "${DORVANE_MACOS_SDK}" CACHE PATH "The macOS SDK sysroot")
# try_compile projects read this file again and must see the same sysroot and architecture.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DORVANE_MACOS_SDK CMAKE_OSX_ARCHITECTURES)

if(NOT CMAKE_OSX_ARCHITECTURES)
  set(CMAKE_OSX_ARCHITECTURES arm64)
endif()
list(LENGTH CMAKE_OSX_ARCHITECTURES architecture_count)
if(NOT architecture_count EQUAL 1)
  message(FATAL_ERROR "Cross-build one architecture per build tree, not ${CMAKE_OSX_ARCHITECTURES}")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_OSX_ARCHITECTURES})
set(CMAKE_OSX_SYSROOT "${DORVANE_MACOS_SDK}")
set(CMAKE_OSX_DEPLOYMENT_TARGET 13.0 CACHE STRING "The oldest macOS Dorvane runs on")

set(target_triple ${CMAKE_OSX_ARCHITECTURES}-apple-macos${CMAKE_OSX_DEPLOYMENT_TARGET})
foreach(language C CXX OBJC OBJCXX)
  set(CMAKE_${language}_COMPILER_TARGET ${target_triple})
endforeach()
set(CMAKE_C_COMPILER /usr/bin/clang-16)
set(CMAKE_OBJC_COMPILER /usr/bin/clang-16)
set(CMAKE_CXX_COMPILER /usr/bin/clang++-16)
set(CMAKE_OBJCXX_COMPILER /usr/bin/clang++-16)
set(CMAKE_AR /usr/bin/llvm-ar-16 CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/llvm-ranlib-16 CACHE FILEPATH "")
set(CMAKE_NM /usr/bin/llvm-nm-16 CACHE FILEPATH "")
set(CMAKE_OBJDUMP /usr/bin/llvm-objdump-16 CACHE FILEPATH "")
set(CMAKE_STRIP /usr/bin/llvm-strip-16 CACHE FILEPATH "")
set(CMAKE_INSTALL_NAME_TOOL /usr/bin/llvm-install-name-tool-16 CACHE FILEPATH "")
set(CMAKE_LIPO /usr/bin/llvm-lipo-16 CACHE FILEPATH "")

# Apple's clang defines the deployment target for the SDK's availability headers; upstream clang
# does not, and without it Objective-C support for dispatch objects is turned off.
string(REPLACE "." ";" version_parts "${CMAKE_OSX_DEPLOYMENT_TARGET}.0.0")
list(GET version_parts 0 version_major)
list(GET version_parts 1 version_minor)
math(EXPR version_number "${version_major} * 10000 + ${version_minor} * 100")
foreach(language C CXX OBJC OBJCXX)
  set(CMAKE_${language}_FLAGS_INIT "-D__ENVIRONMENT_OS_VERSION_MIN_REQUIRED__=${version_number}")
endforeach()
string(APPEND CMAKE_CXX_FLAGS_INIT " -stdlib=libc++")
string(APPEND CMAKE_OBJCXX_FLAGS_INIT " -stdlib=libc++")

# clang looks for the Mach-O linker as ld64.lld; Debian names it ld64.lld-16, so a folder of our
# own holding that name is searched first (-B). Apple's linker adds libobjc by itself, lld does not.
set(target_tools_dir "${CMAKE_BINARY_DIR}/macos-target/bin")
file(MAKE_DIRECTORY "${target_tools_dir}")
file(CREATE_LINK /usr/bin/ld64.lld-16 "${target_tools_dir}/ld64.lld" SYMBOLIC)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -B${target_tools_dir} -lobjc")
endforeach()

# Packages come from the sysroot and from a prefix of our own, never from the host: the host's
# nlohmann_json package would put /usr/include, with glibc's headers, on the target's path. The
# prefix holds a copy of just its headers and package files.
set(target_prefix "${CMAKE_BINARY_DIR}/macos-target")
get_property(in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT in_try_compile)
  file(COPY /usr/include/nlohmann DESTINATION "${target_prefix}/include")
  file(COPY /usr/share/cmake/nlohmann_json DESTINATION "${target_prefix}/share/cmake")
endif()
set(CMAKE_FIND_ROOT_PATH "${DORVANE_MACOS_SDK}" "${target_prefix}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
