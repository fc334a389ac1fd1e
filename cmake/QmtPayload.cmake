# The payload of a setup executable: the two files it carries, each compressed by the build into one zlib stream in
# the executable's read-only data (an assembler .incbin into .rdata), described by the constant payload table.
#
# The default setup embeds the two files of the payload folder: payload/ of the source tree, or QMT_PAYLOAD_DIR.
#   both WebView2Loader.dll and Quillmart.exe there    they are the payload
#   only one, or one that is a folder or unreadable    the configuration stops with a line naming that file
#   neither                                            the demo stand-ins built from payload/demo, announced loudly
#                                                      at configure time and in every build of the setup
# QMT_PAYLOAD_DIR  another payload folder (empty, the default: payload/ of the source tree).
# QMT_ZOPFLI       compress with zopfli instead of zlib level 9: the smallest conforming streams, much slower.
#
# qmt_add_setup(<target> DLL <file-or-target> EXE <file-or-target> [DAMAGE <entry-number>] [STREAMS_TSV <file>])
#   A complete setup executable embedding the given WebView2Loader.dll and Quillmart.exe. Each may be an absolute
#   file path or the name of a target that builds the file. DAMAGE 1 or 2 (for tests) embeds that entry's stream
#   with one byte changed. STREAMS_TSV also writes the table of the streams (name, compressedSize, unpackedSize,
#   firstTwoBytes, adler) there. The streams and the generated table sources lie in <binary dir>/<target>.payload.
#   The streams are made again whenever an input's content changes, whatever its size and time stamp say.
#   The link also writes its map beside the exe, <target>.map (the setup's is <build>/src/Quillmart-Setup.map).
#
# QMT_DEFAULT_PAYLOAD_DLL / _EXE name the default setup's inputs (paths or targets; qmt_payload_input turns either
# into a file path), QMT_PAYLOAD_CHECK the release check program. When the demo stand-ins are embedded, the target
# qmt_demo_payload_notice prints the warning; the default setup depends on it.

set(QMT_PAYLOAD_DIR "" CACHE PATH
  "Folder with the release's WebView2Loader.dll and Quillmart.exe; empty: payload/ of the source tree")
option(QMT_ZOPFLI "Compress the payload with zopfli (smallest streams, slow) instead of zlib level 9" OFF)

# Where tools/CMakeLists.txt puts the build-time programs, in both kinds of build.
set(QMT_PAYLOAD_PACK ${CMAKE_BINARY_DIR}/tools/host/qmt-payload-pack CACHE INTERNAL "")
set(QMT_PAYLOAD_CHECK ${CMAKE_BINARY_DIR}/tools/host/qmt-payload-check CACHE INTERNAL "")

# Stops the configuration with `text` on one line (CMake wraps a message unless it starts with a blank), so the
# file's path stays whole and can be copied.
function(qmt_payload_error text)
  message(FATAL_ERROR " ${text}")
endfunction()

# The names of the payload files present in `dir`, in table order. A file that is there but cannot be used stops
# the configuration: a setup must never be built from something other than what the folder seems to hold.
function(qmt_payload_files_present dir out_names)
  set(present "")
  foreach(name WebView2Loader.dll Quillmart.exe)
    set(file "${dir}/${name}")
    if(IS_DIRECTORY "${file}")
      qmt_payload_error("Payload file ${file} is a folder, not a file")
    elseif(EXISTS "${file}")
      execute_process(COMMAND head -c 1 "${file}" RESULT_VARIABLE unreadable OUTPUT_QUIET ERROR_QUIET)
      if(unreadable)
        qmt_payload_error("Payload file ${file} cannot be read")
      endif()
      list(APPEND present ${name})
    elseif(IS_SYMLINK "${file}")
      qmt_payload_error("Payload file ${file} is a link to nothing")
    endif()
  endforeach()
  set(${out_names} "${present}" PARENT_SCOPE)
endfunction()

if(QMT_PAYLOAD_DIR)
  get_filename_component(payload_dir "${QMT_PAYLOAD_DIR}" ABSOLUTE)
  set(payload_shown "${payload_dir}")
else()
  set(payload_dir "${PROJECT_SOURCE_DIR}/payload")
  set(payload_shown "payload/")
endif()
if(NOT IS_DIRECTORY "${payload_dir}")
  qmt_payload_error("Payload folder ${payload_dir} does not exist")
endif()
# What the default setup embeds is decided here, from what the folder holds, so a file added to, removed from or
# replaced in it makes the next build configure again. CMake ignores a dependency that does not exist when it
# configures: the folder itself, whose time changes when a name in it is added, removed or renamed over, notices a
# file that arrives; each name present notices its file being rewritten or removed.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  "${payload_dir}" "${payload_dir}/WebView2Loader.dll" "${payload_dir}/Quillmart.exe")
qmt_payload_files_present("${payload_dir}" payload_present)
list(LENGTH payload_present payload_count)
if(payload_count EQUAL 2)
  set(QMT_DEFAULT_PAYLOAD_DLL "${payload_dir}/WebView2Loader.dll" CACHE INTERNAL "")
  set(QMT_DEFAULT_PAYLOAD_EXE "${payload_dir}/Quillmart.exe" CACHE INTERNAL "")
  message(STATUS "Payload: ${payload_dir}")
elseif(payload_count EQUAL 1)
  set(missing WebView2Loader.dll)
  if(EXISTS "${payload_dir}/WebView2Loader.dll")
    set(missing Quillmart.exe)
  endif()
  qmt_payload_error("Payload file ${payload_dir}/${missing} is missing: a release needs both files, a demo neither")
else()
  # Targets of payload/CMakeLists.txt.
  set(QMT_DEFAULT_PAYLOAD_DLL qmt_demo_loader CACHE INTERNAL "")
  set(QMT_DEFAULT_PAYLOAD_EXE qmt_demo_app CACHE INTERNAL "")
  # A setup with the stand-ins must not pass for a release: the banner appears here and in every build of it.
  set(banner
    "=================================================================================="
    "DEMO payload: ${payload_shown} holds no release files"
    "This setup installs the demo stand-ins. Put WebView2Loader.dll and Quillmart.exe into ${payload_shown} for a release."
    "==================================================================================")
  string(JOIN "\n" banner_message ${banner})
  message(NOTICE "${banner_message}")
  set(echo_lines "")
  foreach(line IN LISTS banner)
    list(APPEND echo_lines COMMAND ${CMAKE_COMMAND} -E echo "${line}")
  endforeach()
  add_custom_target(qmt_demo_payload_notice ${echo_lines} VERBATIM)
endif()
# qmt_add_setup_program(<target> <sources>...)
#   A GUI executable (no console window) that starts as the setup does: the setup's own entry point
#   (runtime/entry.cpp), linked without the C runtime's start-up code, and its runtime support, both from the object
#   library qmt_setup_start (src/runtime), compiled once as the setup's own code is. The entry prepares the process,
#   runs the static constructors and calls qmt::runSetup, which the linked libraries or <sources> define. Every setup
#   executable is made this way, and so is the runtime probe (tests/runtime), whose abnormal ends are then those of
#   the setup's start-up.
function(qmt_add_setup_program target)
  add_executable(${target} WIN32 ${ARGN})
  # Linked as objects, not as an archive: nothing references the allocation and fault hooks by name, so an archive's
  # members would be dropped.
  target_link_libraries(${target} PRIVATE qmt_setup_start)
  # The setup's libraries are compiled at link time; GNU ld 2.40 then crashes (signal 11) when that code is the
  # first to need a member of the C runtime's or libgcc's archive, which the start-up code otherwise needs first.
  # So the functions of those archives that the setup's code calls (or the compiler calls for it) are named here,
  # to be loaded before: a link that crashes after a change names a new one, which belongs in this list.
  target_link_options(${target} PRIVATE -nostartfiles -Wl,--entry=qmtEntry
                      -Wl,--undefined=malloc,--undefined=free,--undefined=realloc,--undefined=memcpy
                      -Wl,--undefined=memmove,--undefined=memset,--undefined=memcmp,--undefined=strlen
                      -Wl,--undefined=___chkstk_ms)
  # A reference to a DLL's data (a variable it exports, declared without dllimport) is normally resolved by the
  # runtime pseudo-relocation pass of the start-up code left out here: it would link and then read the wrong address
  # at run time. Without pseudo-relocations ld would instead fall back to its older automatic import, which works
  # only by moving the read-only data (the payload streams) into the writable data section. With automatic import
  # off as well, such a reference fails the link.
  target_link_options(${target} PRIVATE -Wl,--disable-runtime-pseudo-reloc,--disable-auto-import)
endfunction()

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
  # Time stamps can lie (a file copied with its old time, or replaced within the same second by one of the same
  # size): every build hashes the inputs, and the stamp file changes only when a hash does.
  # An input given as a path may itself be made by a custom command (a generated payload): it is named as a
  # dependency, so it exists before it is hashed.
  set(stamp ${dir}/inputs.sha256)
  set(input_files "")
  foreach(input ${P_DLL} ${P_EXE})
    if(IS_ABSOLUTE "${input}")
      list(APPEND input_files "${input}")
    endif()
  endforeach()
  add_custom_target(${library}_inputs
    COMMAND ${CMAKE_COMMAND} -DSTAMP=${stamp} -DDLL=${dll} -DEXE=${exe}
            -P ${PROJECT_SOURCE_DIR}/cmake/QmtInputStamp.cmake
    DEPENDS ${input_files}
    BYPRODUCTS ${stamp}
    VERBATIM)
  foreach(input ${P_DLL} ${P_EXE})
    if(TARGET ${input})
      add_dependencies(${library}_inputs ${input})
    endif()
  endforeach()
  # A target name in DEPENDS orders the build and reruns the packer whenever that file is rebuilt; a path reruns
  # it whenever the file's time changes, the stamp whenever its content does. The packer itself is a dependency too.
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    ${make_tsv_dir}
    COMMAND ${QMT_PAYLOAD_PACK} ${args} ${dll} ${exe}
    DEPENDS ${P_DLL} ${P_EXE} ${stamp} ${library}_inputs qmt_build_tools ${QMT_PAYLOAD_PACK}
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
  qmt_add_setup_program(${target})
  # The payload table is a root of the linker's garbage collection: every setup executable carries its payload,
  # whatever code refers to it, so the release check always finds it.
  target_link_options(${target} PRIVATE -Wl,--undefined=_ZN3qmt12payloadTableE)
  # The read-only data with the streams starts at a page boundary of the file too (the script says why).
  set(page_script ${PROJECT_SOURCE_DIR}/cmake/page-aligned-rdata.ld)
  target_link_options(${target} PRIVATE -Wl,-T,${page_script})
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${page_script})
  # The linker's map of the link, beside the exe as <target>.map: which member of which archive it took, and for
  # which reference. The bill of materials lists the libraries from it (scripts/bill-of-materials.py). Writing it
  # changes nothing in the exe.
  set(link_map $<TARGET_FILE_DIR:${target}>/${target}.map)
  target_link_options(${target} PRIVATE -Wl,-Map=${link_map})
  set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${link_map})
  target_link_libraries(${target} PRIVATE qmt_windows ${target}_payload qmt_resources)
endfunction()
