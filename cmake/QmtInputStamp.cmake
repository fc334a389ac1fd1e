# Build step (cmake -P): writes the SHA-256 of the payload inputs DLL and EXE to STAMP, and touches STAMP only when
# a hash differs from the one recorded there. The packer depends on STAMP, so a replaced input is always packed
# again, even when its size and time stamp equal the old file's, and an unchanged one costs only the hashing.
foreach(input "${DLL}" "${EXE}")
  if(NOT EXISTS "${input}" OR IS_DIRECTORY "${input}")
    message(FATAL_ERROR "Payload file ${input} is missing or a folder")
  endif()
  file(SHA256 "${input}" hash)
  string(APPEND text "${hash}  ${input}\n")
endforeach()
set(old "")
if(EXISTS "${STAMP}")
  file(READ "${STAMP}" old)
endif()
if(NOT text STREQUAL old)
  get_filename_component(stamp_dir "${STAMP}" DIRECTORY)
  file(MAKE_DIRECTORY "${stamp_dir}")
  file(WRITE "${STAMP}" "${text}")
endif()
