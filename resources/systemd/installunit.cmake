# Writes the user unit at install time, so that it names the program under the
# prefix given then (cmake --install --prefix), not only the configured one.
# Set before it: ZELVO_UNIT_DIRS (the bin, libexec and data folders, each
# relative to the prefix or absolute), ZELVO_UNIT_TEMPLATE, ZELVO_UNIT_OUTPUT.

set(ZELVO_UNIT_FULL_DIRS)
foreach(dir IN LISTS ZELVO_UNIT_DIRS)
    if(NOT IS_ABSOLUTE "${dir}")
        set(dir "${CMAKE_INSTALL_PREFIX}/${dir}")
    endif()
    list(APPEND ZELVO_UNIT_FULL_DIRS "${dir}")
endforeach()
list(GET ZELVO_UNIT_FULL_DIRS 0 bindir)
list(GET ZELVO_UNIT_FULL_DIRS 1 libexecdir)
list(GET ZELVO_UNIT_FULL_DIRS 2 datadir)
set(ZELVO_PROGRAM "${bindir}/zelvo-footswitch2")
set(ZELVO_WAIT_NETWORK "${libexecdir}/zelvo-footswitch2/zelvo-footswitch2-wait-network")
set(ZELVO_HELP_PAGE "${datadir}/zelvo-footswitch2/help/index.html")
# A file of its own for each destination: installs into two places may run at
# once from one build (the install test beside a package build); it goes once
# installed.
string(MD5 destination "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
get_filename_component(name "${ZELVO_UNIT_OUTPUT}" NAME)
get_filename_component(folder "${ZELVO_UNIT_OUTPUT}" DIRECTORY)
set(ZELVO_UNIT_OUTPUT "${folder}/${destination}/${name}")
configure_file("${ZELVO_UNIT_TEMPLATE}" "${ZELVO_UNIT_OUTPUT}" @ONLY)
# User units belong in lib/systemd/user under the prefix, whatever the
# platform's library folder is called (/usr/lib/systemd/user for /usr).
file(INSTALL "${ZELVO_UNIT_OUTPUT}" DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/user")
file(REMOVE_RECURSE "${folder}/${destination}")
