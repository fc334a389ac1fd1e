# Compiler and linker settings for both builds.

option(QMT_SANITIZE "Native build: AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QMT_FUZZ "Native clang build: libFuzzer targets" OFF)

add_library(qmt_flags INTERFACE)
target_compile_options(qmt_flags INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
target_include_directories(qmt_flags INTERFACE ${PROJECT_SOURCE_DIR}/src)

if(WIN32)
  # Windows 10 API level; wide-character API names; the setup's own code is small and self-contained.
  target_compile_definitions(qmt_flags INTERFACE
    _WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  # Reproducible output: no build paths in the objects, no link timestamp, everything linked statically so the
  # executable needs no MinGW runtime DLL, and stripped. No compiler version string in each object's read-only
  # data either (32 bytes of the executable per object).
  add_compile_options(
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
    -ffile-prefix-map=${PROJECT_BINARY_DIR}=build
    -ffunction-sections -fdata-sections -fno-ident)
  add_link_options(-static -s -Wl,--no-insert-timestamp -Wl,--gc-sections)
  set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} --codepage=65001 -c 65001")
else()
  if(QMT_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()
