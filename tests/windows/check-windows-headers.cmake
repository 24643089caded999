# Checks the headers of the Windows programs and of hidapi.dll: per file,
# what `objdump -p` must show (subsystem, imports, resources) and what its
# ASCII text must hold (the manifest is stored as plain text).
#
# -DOBJDUMP=... -DUPDATER=tavoroUpdater.exe -DFLASHER=tavoro-flash.exe -DHIDAPI=hidapi.dll
set(manifest "level=\"asInvoker\"" "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"
             "<longPathAware [^>]*>true</longPathAware>")
# Both set the DLL search order and hold the mutex the installer looks for.
set(program "SetDefaultDllDirectories" "CreateMutexW" "The \\.rsrc Resource Directory section")
set(UPDATER_headers "Subsystem[\t ]+00000002[\t ]+\\(Windows GUI\\)" ${program})  # no console window
set(FLASHER_headers "Subsystem[\t ]+00000003[\t ]+\\(Windows CUI\\)" ${program})
set(HIDAPI_headers "CancelIoEx")  # the patched hid_write (packaging/windows/hidapi/)
set(UPDATER_text ${manifest})
set(FLASHER_text ${manifest})

foreach(row UPDATER FLASHER HIDAPI)
    execute_process(COMMAND ${OBJDUMP} -p ${${row}} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
    file(STRINGS ${${row}} text)
    foreach(kind headers text)
        foreach(expected IN LISTS ${row}_${kind})
            if(NOT status EQUAL 0 OR NOT ${kind} MATCHES "${expected}")
                message(FATAL_ERROR "${${row}}: no '${expected}' in its ${kind}")
            endif()
        endforeach()
    endforeach()
    message(STATUS "${${row}}: as expected")
endforeach()
