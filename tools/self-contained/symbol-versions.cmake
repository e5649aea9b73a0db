# quillmark_highest_symbol_versions(OBJDUMP FILES GLIBC GLIBC_FILE GLIBCXX GLIBCXX_FILE):
# the highest GLIBC_ and GLIBCXX_ versions that any of FILES asks the loader
# for (its version needs), and the first file that asks for each.
function(quillmark_highest_symbol_versions objdump files glibc glibc_file glibcxx glibcxx_file)
  set(runtimes GLIBC GLIBCXX)
  foreach(runtime IN LISTS runtimes)
    set(highest_${runtime} 0)
    set(by_${runtime} "")
  endforeach()
  foreach(file IN LISTS files)
    # The private headers name the versions without the per-symbol table
    # that readelf prints, which is megabytes for a Qt library.
    execute_process(COMMAND "${objdump}" --private-headers "${file}"
      OUTPUT_VARIABLE needs RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "objdump could not read ${file}")
    endif()
    # Only the references: a library's own definitions are not needs.
    string(FIND "${needs}" "Version References:" start)
    if(start EQUAL -1)
      continue()
    endif()
    string(SUBSTRING "${needs}" ${start} -1 needs)
    foreach(runtime IN LISTS runtimes)
      string(REGEX MATCHALL " ${runtime}_[0-9.]+" found "${needs}")
      foreach(entry IN LISTS found)
        string(REPLACE " ${runtime}_" "" version "${entry}")
        if(version VERSION_GREATER highest_${runtime})
          set(highest_${runtime} "${version}")
          set(by_${runtime} "${file}")
        endif()
      endforeach()
    endforeach()
  endforeach()
  set(${glibc} "${highest_GLIBC}" PARENT_SCOPE)
  set(${glibc_file} "${by_GLIBC}" PARENT_SCOPE)
  set(${glibcxx} "${highest_GLIBCXX}" PARENT_SCOPE)
  set(${glibcxx_file} "${by_GLIBCXX}" PARENT_SCOPE)
endfunction()
