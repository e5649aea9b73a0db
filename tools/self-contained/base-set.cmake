# quillmark_read_base_set(FILE OUT): the library names of the base-set list,
# without its comments and reasons.
function(quillmark_read_base_set file out)
  file(STRINGS "${file}" lines)
  set(names)
  foreach(line IN LISTS lines)
    if(line MATCHES "^([^# ][^ ]*) : .+")
      list(APPEND names "${CMAKE_MATCH_1}")
    elseif(NOT line MATCHES "^#" AND NOT line STREQUAL "")
      message(FATAL_ERROR "${file}: \"${line}\" is not \"library : reason\"")
    endif()
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
