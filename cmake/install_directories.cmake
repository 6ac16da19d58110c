# Run by `cmake --install` before anything is copied: notes in
# install_directories.txt (in the build folder) every directory on the way to
# the install destinations that does not exist yet, so that the uninstall
# target removes the directories this install made, and only those.
# Set by the caller: MIME_INSTALL_DESTINATIONS (relative to the prefix, or
# absolute) and MIME_DIRECTORY_LIST.
set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(created "")
if(EXISTS "${MIME_DIRECTORY_LIST}")
  file(STRINGS "${MIME_DIRECTORY_LIST}" created)
endif()
foreach(destination ${MIME_INSTALL_DESTINATIONS})
  if(IS_ABSOLUTE "${destination}")
    set(directory "$ENV{DESTDIR}${destination}")
  else()
    set(directory "${prefix}/${destination}")
  endif()
  while(NOT EXISTS "${directory}")
    list(APPEND created "${directory}")
    get_filename_component(directory "${directory}" DIRECTORY)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES created)
string(REPLACE ";" "\n" lines "${created}")
file(WRITE "${MIME_DIRECTORY_LIST}" "${lines}\n")
