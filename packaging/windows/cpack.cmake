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

# Both packages hold the program directory as the windows-dist target made
# it (stripped; signed there by scripts/build-windows when it signs), so that
# the zip, the installer and dist/ carry the very same files.
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALLED_DIRECTORIES "${CMAKE_BINARY_DIR}/dist;.")

# The installer and the uninstaller refuse to run while a program runs,
# which holds the named mutex ProcessSetup::runningMutexName
# (src/app/processsetup.h); a silent install then ends with exit code 3.
set(refuse_while_running [=[
!macro TavoroRefuseWhileRunning
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "TavoroUpdaterRunning") p .r9'
  StrCmp $9 0 tavoro_not_running
    System::Call 'kernel32::CloseHandle(p r9)'
    MessageBox MB_OK|MB_ICONEXCLAMATION "Tavoro updater is running. Close it (and tavoro-flash), then try again." /SD IDOK
    SetErrorLevel 3
    Quit
  tavoro_not_running:
!macroend
]=])

# The Apps entry: its size, its version as numbers, and the mark by which
# a later installer knows that this version's uninstaller keeps the user's
# files (see the upgrade below).
set(install_extras [=[
  WriteRegDWORD SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@" "KeepsUserFiles" 1
  WriteRegDWORD SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@" "VersionMajor" @CPACK_PACKAGE_VERSION_MAJOR@
  WriteRegDWORD SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@" "VersionMinor" @CPACK_PACKAGE_VERSION_MINOR@
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@" "EstimatedSize" $0
]=])

# The uninstaller removes what it installed. What the program wrote beside
# itself (program logs, device logs, firmware files) stays, and the
# directory with it, unless the user asks for them to go in an interactive
# uninstall (default No); only the program's own file names are matched. A
# firmware file placed there by hand always stays.
set(uninstall_extras [=[
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Also remove the program logs, the device logs and the downloaded firmware files in $INSTDIR?" /SD IDNO IDNO tavoro_keep_user_files
    Delete "$INSTDIR\????-??-??_??_??_??.log"
    Delete "$INSTDIR\????-??-??_??_??_??_log.enc"
    Delete "$INSTDIR\????-??-??_??_??_??-*_log.enc"
    Delete "$INSTDIR\updater.sb"
    Delete "$INSTDIR\updater.sb.bkp"
    Delete "$INSTDIR\updater.sb.upd"
  tavoro_keep_user_files:
]=])

# An upgrade runs the installed version's uninstaller first, without
# asking, so that files the new version no longer ships go, while the
# user's files stay. Uninstallers older than this one deleted those too:
# only one that carries the mark KeepsUserFiles is run.
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(find_installed [=[
  ReadRegStr $0 HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@" "UninstallString"
  StrCmp $0 "" inst
  ReadRegDWORD $1 HKCU "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@" "KeepsUserFiles"
  StrCmp $1 1 uninst inst
]=])

# Signs the installer, and the uninstaller before it is packed into it, as
# it signs the programs (it does nothing without a certificate).
set(sign "${CMAKE_CURRENT_LIST_DIR}/sign")
set(signing "  !finalize '\"${sign}\" \"%1\"' = 0\n  !uninstfinalize '\"${sign}\" \"%1\"' = 0\n")

# CMake's own installer script makes a 32-bit installer that installs for
# all users and asks for administrator rights; this copy of it makes a
# 64-bit one, for the 64-bit program, that asks for none and installs for
# the user alone, into the user's own programs folder also when the user is
# no administrator (CMake's puts it into Documents then), and finds an
# installed version in the user's own registry, where it is recorded.
set(nsis_template ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in)
file(READ ${nsis_template} template)
function(change_template from to)
    string(FIND "${template}" "${from}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "${nsis_template} has no '${from}' to change")
    endif()
    string(REPLACE "${from}" "${to}" changed "${template}")
    set(template "${changed}" PARENT_SCOPE)
endfunction()
change_template("  SetCompressor @CPACK_NSIS_COMPRESSOR@\n"
                "  Target amd64-unicode\n  SetCompressor @CPACK_NSIS_COMPRESSOR@\n${signing}")
change_template("RequestExecutionLevel admin" "RequestExecutionLevel user")
change_template("SetShellVarContext all" "SetShellVarContext current")
change_template("!include Sections.nsh\n" "!include Sections.nsh\n  !include FileFunc.nsh\n")
change_template([=[StrCpy $INSTDIR "$DOCUMENTS\@CPACK_PACKAGE_INSTALL_DIRECTORY@"]=]
                [=[StrCpy $INSTDIR "@CPACK_NSIS_INSTALL_ROOT@\@CPACK_PACKAGE_INSTALL_DIRECTORY@"]=])
change_template("Function un.onInit\n"
                "${refuse_while_running}\nFunction un.onInit\n  !insertmacro TavoroRefuseWhileRunning\n")
change_template("Function .onInit\n" "Function .onInit\n  !insertmacro TavoroRefuseWhileRunning\n")
change_template([=[
  ReadRegStr $0 HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\@CPACK_PACKAGE_INSTALL_REGISTRY_KEY@" "UninstallString"
  StrCmp $0 "" inst
]=] "${find_installed}")
change_template("@CPACK_NSIS_EXTRA_INSTALL_COMMANDS@\n" "@CPACK_NSIS_EXTRA_INSTALL_COMMANDS@\n${install_extras}")
change_template("@CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS@\n" "@CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS@\n${uninstall_extras}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/nsis/NSIS.template.in "${template}")
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_BINARY_DIR}/nsis)
