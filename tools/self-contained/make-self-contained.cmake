# Makes a bundle of the build tree self-contained, for the disk image:
#
#   cmake -DSOURCE=<bundle> -DDESTINATION=<bundle> -DBASE_SET=<list>
#         -DQT_PLUGINS=<folder> -DPLUGINS=<category/file|...>
#         -DDEBUG_FOLDER=<folder> [-DGLIBC_FLOOR=2.35] [-DGLIBCXX_FLOOR=3.4.30]
#         -P make-self-contained.cmake
#
# The programs in Contents/MacOS and the chosen Qt plugins (Contents/PlugIns)
# take every library they load from Contents/Frameworks, except the base set,
# which every desktop has. Everything shipped is stripped; its debug
# information stays in DEBUG_FOLDER, named by a debuglink. A seal of SOURCE
# is left out: the bundle is sealed again once it is complete.
cmake_minimum_required(VERSION 3.25)

foreach(variable SOURCE DESTINATION BASE_SET QT_PLUGINS DEBUG_FOLDER)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "make-self-contained: ${variable} is not given")
  endif()
endforeach()
if(NOT DEFINED GLIBC_FLOOR)
  set(GLIBC_FLOOR 2.35)
endif()
if(NOT DEFINED GLIBCXX_FLOOR)
  set(GLIBCXX_FLOOR 3.4.30)
endif()
foreach(tool patchelf objcopy objdump strip)
  find_program(${tool}_program ${tool} REQUIRED)
endforeach()

include("${CMAKE_CURRENT_LIST_DIR}/base-set.cmake")
quillmark_read_base_set("${BASE_SET}" base_set)

# Built beside the destination, so an interrupted build never leaves a
# half-made bundle under the final name.
set(partial "${DESTINATION}.partial")
file(REMOVE_RECURSE "${partial}")
file(COPY "${SOURCE}/" DESTINATION "${partial}"
  PATTERN "_CodeSignature" EXCLUDE)
set(contents "${partial}/Contents")

file(GLOB programs LIST_DIRECTORIES false "${contents}/MacOS/*")
string(REPLACE "|" ";" PLUGINS "${PLUGINS}")
set(plugins)
foreach(plugin IN LISTS PLUGINS)
  get_filename_component(category "${plugin}" DIRECTORY)
  file(COPY "${QT_PLUGINS}/${plugin}" DESTINATION "${contents}/PlugIns/${category}")
  list(APPEND plugins "${contents}/PlugIns/${plugin}")
endforeach()

# Names, not paths: the loader asks for each library by the name a program
# records, and a base-set library is never looked up here, so what it loads
# itself is the system's business.
set(exclusions)
foreach(name IN LISTS base_set)
  string(REGEX REPLACE "([.+])" "\\\\\\1" escaped "${name}")
  list(APPEND exclusions "^${escaped}$")
endforeach()
file(GET_RUNTIME_DEPENDENCIES
  EXECUTABLES ${programs}
  MODULES ${plugins}
  RESOLVED_DEPENDENCIES_VAR libraries
  UNRESOLVED_DEPENDENCIES_VAR unresolved
  PRE_EXCLUDE_REGEXES ${exclusions}
  # The build tree's own folders come first, as for the programs themselves.
  DIRECTORIES ${LIBRARY_DIRECTORIES})
if(unresolved)
  message(FATAL_ERROR "make-self-contained: no library found for: ${unresolved}")
endif()

file(MAKE_DIRECTORY "${contents}/Frameworks")
set(frameworks)
foreach(library IN LISTS libraries)
  # Under the name programs ask for, as the real file rather than a link.
  get_filename_component(name "${library}" NAME)
  file(REAL_PATH "${library}" real)
  file(COPY_FILE "${real}" "${contents}/Frameworks/${name}" ONLY_IF_DIFFERENT)
  file(CHMOD "${contents}/Frameworks/${name}" PERMISSIONS
    OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND frameworks "${contents}/Frameworks/${name}")
endforeach()

file(WRITE "${contents}/MacOS/qt.conf" "[Paths]\nPrefix = ..\nPlugins = PlugIns\n")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "make-self-contained: ${command} failed: ${errors}")
  endif()
endfunction()

# Each file finds Contents/Frameworks from where it lies; a RUNPATH is not
# inherited, so every copied library gets its own.
foreach(file IN LISTS programs)
  if(NOT file MATCHES "/qt\\.conf$")
    run("${patchelf_program}" --set-rpath "$ORIGIN/../Frameworks" "${file}")
    list(APPEND elf_files "${file}")
    list(APPEND own_files "${file}")
  endif()
endforeach()
foreach(file IN LISTS plugins)
  run("${patchelf_program}" --set-rpath "$ORIGIN/../../Frameworks" "${file}")
  list(APPEND elf_files "${file}")
endforeach()
foreach(file IN LISTS frameworks)
  run("${patchelf_program}" --set-rpath "$ORIGIN" "${file}")
  list(APPEND elf_files "${file}")
endforeach()

# Only our own programs have debug information worth keeping; the copied
# system libraries come stripped of theirs, apart from the symbol tables
# stripping removes here.
file(MAKE_DIRECTORY "${DEBUG_FOLDER}")
foreach(file IN LISTS elf_files)
  if(file IN_LIST own_files)
    get_filename_component(name "${file}" NAME)
    set(debug "${DEBUG_FOLDER}/${name}.debug")
    run("${objcopy_program}" --only-keep-debug "${file}" "${debug}")
    run("${strip_program}" --strip-all "${file}")
    run("${objcopy_program}" "--add-gnu-debuglink=${debug}" "${file}")
  else()
    run("${strip_program}" --strip-unneeded "${file}")
  endif()
endforeach()

include("${CMAKE_CURRENT_LIST_DIR}/symbol-versions.cmake")
quillmark_highest_symbol_versions("${objdump_program}" "${elf_files}" glibc glibc_file glibcxx glibcxx_file)
get_filename_component(bundle_name "${DESTINATION}" NAME)
file(RELATIVE_PATH glibc_file "${partial}" "${glibc_file}")
file(RELATIVE_PATH glibcxx_file "${partial}" "${glibcxx_file}")
message(STATUS "${bundle_name}: highest glibc version needed GLIBC_${glibc} (${glibc_file}), "
  "highest C++ runtime version needed GLIBCXX_${glibcxx} (${glibcxx_file})")
if(glibc VERSION_GREATER GLIBC_FLOOR)
  message(FATAL_ERROR "make-self-contained: ${glibc_file} needs GLIBC_${glibc}; "
    "the bundles must run with glibc ${GLIBC_FLOOR}.")
endif()
if(glibcxx VERSION_GREATER GLIBCXX_FLOOR)
  message(FATAL_ERROR "make-self-contained: ${glibcxx_file} needs GLIBCXX_${glibcxx}; "
    "the bundles must run with the C++ runtime of GCC 12 (GLIBCXX_${GLIBCXX_FLOOR}).")
endif()

file(REMOVE_RECURSE "${DESTINATION}")
file(RENAME "${partial}" "${DESTINATION}")
