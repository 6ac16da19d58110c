# The uninstall target: removes every file that install_manifest.txt lists
# (what the last `cmake --install` of this build folder put in place), then
# the directories that the installs made, once they are empty.
# Run in the build folder: cmake -P <source>/cmake/uninstall.cmake
if(NOT EXISTS "install_manifest.txt")
  message(FATAL_ERROR "Nothing to uninstall: no install_manifest.txt in this build folder")
endif()
file(STRINGS "install_manifest.txt" files)
foreach(file ${files})
  if(EXISTS "$ENV{DESTDIR}${file}" OR IS_SYMLINK "$ENV{DESTDIR}${file}")
    message(STATUS "Removing ${file}")
    file(REMOVE "$ENV{DESTDIR}${file}")
  endif()
endforeach()
if(EXISTS "install_directories.txt")
  file(STRINGS "install_directories.txt" directories)
  # Deepest first: a directory is removed after what it held.
  list(SORT directories)
  list(REVERSE directories)
  foreach(directory ${directories})
    file(GLOB left "${directory}/*" "${directory}/.*")
    if(IS_DIRECTORY "${directory}" AND NOT left)
      message(STATUS "Removing ${directory}/")
      file(REMOVE_RECURSE "${directory}")
    endif()
  endforeach()
  file(REMOVE "install_directories.txt")
endif()
