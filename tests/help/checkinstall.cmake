# Runs cmake --install into PREFIX and checks what the desktop and the
# program need to find there. Run by CTest with -D BUILD_DIR, PREFIX, BINDIR,
# DATADIR, LIBEXECDIR, HELP_FROM_PROGRAM_DIR, SOURCE_HELP_DIR,
# DESKTOP_FILE_VALIDATE, SYSTEMD_ANALYZE.

file(REMOVE_RECURSE "${PREFIX}")
execute_process(
    COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
    RESULT_VARIABLE result
    OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(failures "")
macro(expect_file path)
    if(NOT EXISTS "${PREFIX}/${path}" OR IS_DIRECTORY "${PREFIX}/${path}")
        list(APPEND failures "missing: ${path}")
    endif()
endmacro()

set(helpdir "${DATADIR}/zelvo-footswitch2/help")
expect_file("${BINDIR}/zelvo-footswitch2")
expect_file("${helpdir}/index.html")
expect_file("${DATADIR}/applications/zelvo-footswitch2.desktop")
expect_file("${DATADIR}/zelvo-footswitch2/ser2net/zelvo-remote.yaml")
expect_file("${DATADIR}/icons/hicolor/scalable/apps/zelvo-footswitch2.svg")
foreach(size 16 32 48 64 128)
    expect_file("${DATADIR}/icons/hicolor/${size}x${size}/apps/zelvo-footswitch2.png")
endforeach()

# The user unit starts the program installed beside it, without a window,
# after the wait for the network.
set(unit "lib/systemd/user/zelvo-footswitch2.service")
set(wait "${LIBEXECDIR}/zelvo-footswitch2/zelvo-footswitch2-wait-network")
expect_file("${unit}")
expect_file("${wait}")
if(EXISTS "${PREFIX}/${unit}")
    file(STRINGS "${PREFIX}/${unit}" lines)
    foreach(expected "ExecStart=${PREFIX}/${BINDIR}/zelvo-footswitch2 --no-window" "ExecStartPre=-${PREFIX}/${wait}")
        list(FIND lines "${expected}" at)
        if(at EQUAL -1)
            list(APPEND failures "${unit} has no line ${expected}")
        endif()
    endforeach()
endif()
# Warnings are printed with status 0; a command that is not there fails it.
if(SYSTEMD_ANALYZE AND EXISTS "${PREFIX}/${unit}")
    file(MAKE_DIRECTORY "${PREFIX}/runtime")
    execute_process(
        COMMAND "${CMAKE_COMMAND}" -E env "XDG_RUNTIME_DIR=${PREFIX}/runtime"
                "${SYSTEMD_ANALYZE}" --user verify "${PREFIX}/${unit}"
        RESULT_VARIABLE result
        OUTPUT_VARIABLE output
        ERROR_VARIABLE output)
    if(NOT result EQUAL 0 OR NOT output STREQUAL "")
        list(APPEND failures "systemd-analyze --user verify: ${output}")
    endif()
endif()

# The page where the installed program looks for it.
get_filename_component(looked_at "${PREFIX}/${BINDIR}/${HELP_FROM_PROGRAM_DIR}" ABSOLUTE)
if(NOT EXISTS "${looked_at}")
    list(APPEND failures "the program looks for its help at ${looked_at}, which is not installed")
endif()

# Every picture the page shows, except the window picture while the source
# tree has none, is installed beside it.
file(READ "${SOURCE_HELP_DIR}/index.html" page)
string(REGEX MATCHALL "src=\"[^\"]+\"" sources "${page}")
foreach(source IN LISTS sources)
    string(REGEX REPLACE "src=\"([^\"]+)\"" "\\1" picture "${source}")
    if(picture STREQUAL "window.png" AND NOT EXISTS "${SOURCE_HELP_DIR}/window.png")
        continue()
    endif()
    expect_file("${helpdir}/${picture}")
endforeach()

if(DESKTOP_FILE_VALIDATE)
    execute_process(
        COMMAND "${DESKTOP_FILE_VALIDATE}" "${PREFIX}/${DATADIR}/applications/zelvo-footswitch2.desktop"
        RESULT_VARIABLE result
        OUTPUT_VARIABLE output
        ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        list(APPEND failures "desktop-file-validate: ${output}")
    endif()
endif()

if(failures)
    list(JOIN failures "\n  " text)
    message(FATAL_ERROR "Installed tree in ${PREFIX} is incomplete:\n  ${text}")
endif()
