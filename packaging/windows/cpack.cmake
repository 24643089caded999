# The Windows zip and the installer.
#
# The installer installs for the user who runs it, into that user's own
# programs folder (%LOCALAPPDATA%\Programs\Tavoro updater): the program
# writes its logs and firmware files beside itself, which it could not do
# under Program Files without administrator rights. It needs no such
# rights itself, and puts its Start-menu entries and its uninstaller in the
# user's own profile.
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tavoro updater")
set(CPACK_PACKAGE_EXECUTABLES tavoroUpdater "Tavoro updater")
set(CPACK_NSIS_PACKAGE_NAME "Tavoro updater")
set(CPACK_NSIS_DISPLAY_NAME "Tavoro updater")
set(CPACK_NSIS_INSTALL_ROOT "$LOCALAPPDATA\\\\Programs")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/src/app/icons/tavoro-updater.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/src/app/icons/tavoro-updater.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME tavoroUpdater.exe)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The uninstaller removes what it installed and the files the program
# wrote beside itself (logs, firmware images); a firmware file placed there
# by hand stays, and so does the directory with it.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  Delete '$INSTDIR\\\\*.log'
  Delete '$INSTDIR\\\\*_log.enc'
  Delete '$INSTDIR\\\\updater.sb'
  Delete '$INSTDIR\\\\updater.sb.bkp'
  Delete '$INSTDIR\\\\updater.sb.upd'")

# CMake's own installer script makes a 32-bit installer that installs for
# all users and asks for administrator rights; this copy of it makes a
# 64-bit one, for the 64-bit program, that asks for none and installs for
# the user alone.
set(nsis_template ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in)
file(READ ${nsis_template} template)
foreach(change "SetCompressor @CPACK_NSIS_COMPRESSOR@|Target amd64-unicode\n  SetCompressor @CPACK_NSIS_COMPRESSOR@"
               "RequestExecutionLevel admin|RequestExecutionLevel user"
               "SetShellVarContext all|SetShellVarContext current")
    string(REPLACE "|" ";" change "${change}")
    list(GET change 0 from)
    list(GET change 1 to)
    string(FIND "${template}" "${from}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "${nsis_template} has no '${from}' to change")
    endif()
    string(REPLACE "${from}" "${to}" template "${template}")
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nsis/NSIS.template.in "${template}")
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_BINARY_DIR}/nsis)
