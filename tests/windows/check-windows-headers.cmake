# Checks the headers of the Windows program: a GUI-subsystem executable
# (no console window) with a resource section (the icon and version).
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()
foreach(expected "Subsystem[\t ]+00000002[\t ]+\\(Windows GUI\\)" "The \\.rsrc Resource Directory section")
    if(NOT headers MATCHES "${expected}")
        message(FATAL_ERROR "${PROGRAM}: no '${expected}' in its headers")
    endif()
endforeach()
message(STATUS "GUI subsystem and a resource section")
