# Checks the headers of the Windows programs and of hidapi.dll, each row of
# the table below: a file, what `objdump -p` must show, and what the ASCII
# text in it must hold (the manifest is stored as plain text).
#
# -DOBJDUMP=... -DUPDATER=tavoroUpdater.exe -DFLASHER=tavoro-flash.exe -DHIDAPI=hidapi.dll
set(manifest "level=\"asInvoker\"" "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"
             "<longPathAware [^>]*>true</longPathAware>")
# Both programs set the DLL search order and hold the mutex the installer
# looks for.
set(program_imports "SetDefaultDllDirectories" "CreateMutexW" "The \\.rsrc Resource Directory section")

# The window program: no console window.
set(UPDATER_headers "Subsystem[\t ]+00000002[\t ]+\\(Windows GUI\\)" ${program_imports})
set(UPDATER_text ${manifest})
# The flasher: run from a console or a script.
set(FLASHER_headers "Subsystem[\t ]+00000003[\t ]+\\(Windows CUI\\)" ${program_imports})
set(FLASHER_text ${manifest})
# hid_write cancels a write it gave up on (packaging/windows/hidapi/).
set(HIDAPI_headers "CancelIoEx")
set(HIDAPI_text)

foreach(row UPDATER FLASHER HIDAPI)
    set(file ${${row}})
    execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} -p ${file} failed")
    endif()
    foreach(expected IN LISTS ${row}_headers)
        if(NOT headers MATCHES "${expected}")
            message(FATAL_ERROR "${file}: no '${expected}' in its headers")
        endif()
    endforeach()
    file(STRINGS ${file} text)
    foreach(expected IN LISTS ${row}_text)
        if(NOT text MATCHES "${expected}")
            message(FATAL_ERROR "${file}: no '${expected}' in its text (its manifest)")
        endif()
    endforeach()
    message(STATUS "${file}: as expected")
endforeach()
