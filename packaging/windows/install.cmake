# The Windows program directory: the programs, the Qt and hidapi DLLs, the
# Qt plugins and the MinGW runtime, all side by side, as Windows looks for
# DLLs beside the executable and Qt for its plugins there. The program
# writes its logs and firmware files into this directory, so the installer
# puts it where its user can write (see cpack.cmake).
#
# `cmake --build <dir> --target windows-dist` installs it into <dir>/dist,
# without debug information; the zip and the installer pack that directory.

# Every program of the package; each gets its DLLs from the rules below.
set(TAVORO_WINDOWS_PROGRAMS tavoro-updater tavoro-flash)

install(TARGETS ${TAVORO_WINDOWS_PROGRAMS} RUNTIME DESTINATION .)
install(FILES windows/qt.conf DESTINATION .)

install(IMPORTED_RUNTIME_ARTIFACTS Qt5::Core Qt5::Gui Qt5::Widgets Qt5::Network
        RUNTIME DESTINATION .)
install(IMPORTED_RUNTIME_ARTIFACTS Qt5::QWindowsIntegrationPlugin LIBRARY DESTINATION platforms)
install(IMPORTED_RUNTIME_ARTIFACTS Qt5::QWindowsVistaStylePlugin LIBRARY DESTINATION styles)

# hidapi as its CMake package names the backend; a build that found hidapi
# through pkg-config leaves its DLL to the packager.
if(TARGET hidapi::winapi)
    install(IMPORTED_RUNTIME_ARTIFACTS hidapi::winapi RUNTIME DESTINATION .)
else()
    message(WARNING "hidapi was not found through its CMake package: put hidapi.dll beside the program by hand")
endif()

# The closed transfer library of the MOSS controller, loaded at run time
# from the program directory when a MOSS controller is updated.
if(TAVORO_VENDOR_UTP_LIBRARY)
    install(FILES ${TAVORO_VENDOR_UTP_LIBRARY} DESTINATION .)
endif()

# The MinGW runtime: a Qt built with scripts/build-qt-mingw keeps a copy in
# its bin/, else the cross compiler's own.
get_target_property(qt_core_dll Qt5::Core IMPORTED_LOCATION_RELEASE)
get_filename_component(qt_bin_dir ${qt_core_dll} DIRECTORY)
file(GLOB gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-posix)
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    find_file(TAVORO_RUNTIME_${runtime} ${runtime}
              PATHS ${qt_bin_dir} ${gcc_dirs} /usr/x86_64-w64-mingw32/lib
              NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT TAVORO_RUNTIME_${runtime})
        message(FATAL_ERROR "MinGW runtime ${runtime} not found")
    endif()
    install(FILES ${TAVORO_RUNTIME_${runtime}} DESTINATION .)
endforeach()

add_custom_target(windows-dist
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/dist
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${CMAKE_BINARY_DIR}/dist --strip
    DEPENDS ${TAVORO_WINDOWS_PROGRAMS}
    COMMENT "Installing the program directory into dist/"
    VERBATIM)
