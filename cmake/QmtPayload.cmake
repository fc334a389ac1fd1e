# The payload of a setup executable: the two files it carries, each compressed by the build into one zlib stream in
# the executable's read-only data (an assembler .incbin into .rdata), described by the constant payload table.
#
# QMT_PAYLOAD_DIR  folder holding the release's WebView2Loader.dll and Quillmart.exe. Empty (the default): the demo
#                  stand-ins built from payload/demo are embedded, so a fresh clone builds a working setup.
# QMT_ZOPFLI       compress with zopfli instead of zlib level 9: the smallest conforming streams, much slower.
#
# qmt_add_setup(<target> DLL <file-or-target> EXE <file-or-target> [DAMAGE <entry-number>] [STREAMS_TSV <file>])
#   A complete setup executable embedding the given WebView2Loader.dll and Quillmart.exe. Each may be an absolute
#   file path or the name of a target that builds the file. DAMAGE 1 or 2 (for tests) embeds that entry's stream
#   with one byte changed. STREAMS_TSV also writes the table of the streams (name, compressedSize, unpackedSize,
#   firstTwoBytes, adler) there. The streams and the generated table sources lie in <binary dir>/<target>.payload.
#
# QMT_DEFAULT_PAYLOAD_DLL / _EXE name the default setup's inputs (paths or targets; qmt_payload_input turns either
# into a file path), QMT_PAYLOAD_CHECK the release check program.

set(QMT_PAYLOAD_DIR "" CACHE PATH
  "Folder with the release's WebView2Loader.dll and Quillmart.exe; empty: embed the demo stand-ins from payload/demo")
option(QMT_ZOPFLI "Compress the payload with zopfli (smallest streams, slow) instead of zlib level 9" OFF)

# Where tools/CMakeLists.txt puts the build-time programs, in both kinds of build.
set(QMT_PAYLOAD_PACK ${CMAKE_BINARY_DIR}/tools/host/qmt-payload-pack CACHE INTERNAL "")
set(QMT_PAYLOAD_CHECK ${CMAKE_BINARY_DIR}/tools/host/qmt-payload-check CACHE INTERNAL "")

if(QMT_PAYLOAD_DIR)
  get_filename_component(dir "${QMT_PAYLOAD_DIR}" ABSOLUTE)
  foreach(name WebView2Loader.dll Quillmart.exe)
    if(NOT EXISTS "${dir}/${name}" OR IS_DIRECTORY "${dir}/${name}")
      message(FATAL_ERROR "QMT_PAYLOAD_DIR: the payload file ${dir}/${name} does not exist")
    endif()
  endforeach()
  set(QMT_DEFAULT_PAYLOAD_DLL "${dir}/WebView2Loader.dll" CACHE INTERNAL "")
  set(QMT_DEFAULT_PAYLOAD_EXE "${dir}/Quillmart.exe" CACHE INTERNAL "")
  message(STATUS "Payload: ${dir}")
else()
  # Targets of payload/CMakeLists.txt.
  set(QMT_DEFAULT_PAYLOAD_DLL qmt_demo_loader CACHE INTERNAL "")
  set(QMT_DEFAULT_PAYLOAD_EXE qmt_demo_app CACHE INTERNAL "")
  message(STATUS "Payload: demo stand-ins (payload/demo)")
endif()
# The setup's own sources (besides its libraries), for every setup executable of this build.
set(QMT_SETUP_SOURCES ${QMT_RUNTIME_SUPPORT_SOURCES} ${PROJECT_SOURCE_DIR}/src/runtime/entry.cpp CACHE INTERNAL "")

# The input file of one payload entry: a path as given, or the file a target builds.
function(qmt_payload_input value out_file)
  if(IS_ABSOLUTE "${value}")
    set(${out_file} "${value}" PARENT_SCOPE)
  else()
    set(${out_file} "$<TARGET_FILE:${value}>" PARENT_SCOPE)
  endif()
endfunction()

# An object library with the streams and the payload table of one setup.
function(qmt_add_payload_table library)
  cmake_parse_arguments(P "" "DLL;EXE;DAMAGE;STREAMS_TSV;DIR" "" ${ARGN})
  set(dir ${P_DIR})
  qmt_payload_input("${P_DLL}" dll)
  qmt_payload_input("${P_EXE}" exe)
  set(args --out-dir ${dir})
  if(QMT_ZOPFLI)
    list(APPEND args --zopfli)
  endif()
  if(P_DAMAGE)
    list(APPEND args --damage ${P_DAMAGE})
  endif()
  set(outputs ${dir}/stream1.zlib ${dir}/stream2.zlib ${dir}/payload_streams.cpp ${dir}/payload_streams.h
              ${dir}/streams.tsv)
  set(make_tsv_dir "")
  if(P_STREAMS_TSV)
    list(APPEND args --tsv ${P_STREAMS_TSV})
    list(APPEND outputs ${P_STREAMS_TSV})
    get_filename_component(tsv_dir "${P_STREAMS_TSV}" DIRECTORY)
    set(make_tsv_dir COMMAND ${CMAKE_COMMAND} -E make_directory ${tsv_dir})
  endif()
  # A target name in DEPENDS orders the build and reruns the packer whenever that file is rebuilt; a path reruns
  # it whenever the file changes. The packer itself is a dependency too.
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    ${make_tsv_dir}
    COMMAND ${QMT_PAYLOAD_PACK} ${args} ${dll} ${exe}
    DEPENDS ${P_DLL} ${P_EXE} qmt_build_tools ${QMT_PAYLOAD_PACK}
    COMMENT "Compressing the payload of ${library}"
    VERBATIM)
  add_library(${library} OBJECT ${dir}/payload_streams.cpp ${PROJECT_SOURCE_DIR}/src/payload/payload_table.cpp)
  target_include_directories(${library} PRIVATE ${dir})
  target_link_libraries(${library} PRIVATE qmt_flags)
  # The compiler does not know the files behind .incbin: without this a changed stream would not be reassembled
  # and a stale payload would ship.
  set_source_files_properties(${dir}/payload_streams.cpp PROPERTIES
    OBJECT_DEPENDS "${dir}/stream1.zlib;${dir}/stream2.zlib")
endfunction()

function(qmt_add_setup target)
  cmake_parse_arguments(S "" "DLL;EXE;DAMAGE;STREAMS_TSV" "" ${ARGN})
  if(NOT S_DLL OR NOT S_EXE)
    message(FATAL_ERROR "qmt_add_setup(${target}): DLL and EXE are required")
  endif()
  set(extra "")
  if(S_DAMAGE)
    list(APPEND extra DAMAGE ${S_DAMAGE})
  endif()
  if(S_STREAMS_TSV)
    list(APPEND extra STREAMS_TSV ${S_STREAMS_TSV})
  endif()
  qmt_add_payload_table(${target}_payload DLL ${S_DLL} EXE ${S_EXE} DIR ${CMAKE_CURRENT_BINARY_DIR}/${target}.payload
                        ${extra})
  # GUI subsystem (no console window), wide-character entry point. The runtime-support objects are compiled into
  # the executable directly, since nothing references the allocation and fault hooks by name and a static library
  # would drop them.
  add_executable(${target} WIN32 ${QMT_SETUP_SOURCES})
  # The payload table is a root of the linker's garbage collection: every setup executable carries its payload,
  # whatever code refers to it, so the release check always finds it.
  target_link_options(${target} PRIVATE -municode -Wl,--undefined=_ZN3qmt12payloadTableE)
  target_link_libraries(${target} PRIVATE qmt_windows ${target}_payload qmt_resources)
endfunction()
