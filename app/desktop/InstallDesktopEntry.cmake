# Writes the launcher entry with the installed program's absolute path in its
# Exec key, so the launcher starts the program even where the install's bin
# folder is not on PATH. Included by `cmake --install`, where
# CMAKE_INSTALL_PREFIX is the prefix installed to (--prefix included) and
# file(INSTALL) puts DESTDIR in front by itself: the entry names where the
# program will run from, never the staging folder.
#
# Given: VANTRO_DESKTOP_TEMPLATE, VANTRO_DESKTOP_STAGING (a folder of the build
# tree), VANTRO_DESKTOP_BINDIR and VANTRO_DESKTOP_DATADIR (as GNUInstallDirs
# has them, relative to the prefix or absolute).

function(vantro_under_prefix dir out)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

vantro_under_prefix("${VANTRO_DESKTOP_BINDIR}" bindir)
vantro_under_prefix("${VANTRO_DESKTOP_DATADIR}" datadir)
cmake_path(SET program NORMALIZE "${bindir}/vantro")

# The Exec key's own quoting: an argument with any character beyond the plain
# ones goes in double quotes, inside which " ` $ and \ take a backslash; a
# literal % is doubled; then, as in every string value, each backslash is
# escaped once more.
if(program MATCHES "[\n\r\t]")
  message(FATAL_ERROR "A launcher entry cannot name a program whose path holds a line break or tab: ${program}")
endif()
set(exec "${program}")
if(NOT exec MATCHES "^[A-Za-z0-9_./+,:@=-]+$")
  string(REPLACE "\\" "\\\\" exec "${exec}")
  string(REPLACE "\"" "\\\"" exec "${exec}")
  string(REPLACE "`" "\\`" exec "${exec}")
  string(REPLACE "$" "\\$" exec "${exec}")
  set(exec "\"${exec}\"")
endif()
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" VANTRO_EXEC "${exec}")

configure_file("${VANTRO_DESKTOP_TEMPLATE}" "${VANTRO_DESKTOP_STAGING}/vantro.desktop" @ONLY)
file(INSTALL DESTINATION "${datadir}/applications" TYPE FILE FILES "${VANTRO_DESKTOP_STAGING}/vantro.desktop")
