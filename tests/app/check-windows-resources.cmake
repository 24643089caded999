# Compiles the Windows resource script with the MinGW resource compiler and
# checks what it holds: the icon group and the version strings.
get_filename_component(rc_dir ${RC_FILE} DIRECTORY)
set(preprocess --preprocessor=cpp --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED -I ${rc_dir})

execute_process(COMMAND ${WINDRES} ${preprocess} ${RC_FILE} -O coff -o ${OUT_DIR}/tavoro-updater-res.o
    RESULT_VARIABLE compiled ERROR_VARIABLE errors)
if(NOT compiled EQUAL 0)
    message(FATAL_ERROR "windres failed: ${errors}")
endif()

execute_process(COMMAND ${WINDRES} ${preprocess} ${RC_FILE} -O rc
    OUTPUT_VARIABLE decompiled RESULT_VARIABLE listed)
if(NOT listed EQUAL 0)
    message(FATAL_ERROR "windres could not list the resources")
endif()

foreach(expected "\"IDI_ICON1\" 14 /\\* RT_GROUP_ICON \\*/" "\n1 VERSIONINFO"
                 "\"ProductName\", \"tavoroUpdater\""
                 "\"OriginalFilename\", \"tavoroUpdater.exe\"" "\"FileVersion\", \"0.0.0.0\""
                 "\"ProductVersion\", \"0.0.0.0\"" "VALUE \"Translation\", 0x409, 1200")
    if(NOT decompiled MATCHES "${expected}")
        message(FATAL_ERROR "resource listing lacks ${expected}")
    endif()
endforeach()

# Six 32-bit images in the group: 256 (written as 0), 128, 64, 48, 32 and 16
# pixels square, as octal escapes of the width and height bytes.
foreach(size 000 200 100 060 040 020)
    if(NOT decompiled MATCHES "\"\\\\${size}\\\\${size}\\\\000\\\\000\", 1, 32, ")
        message(FATAL_ERROR "no 32-bit icon image of size code ${size}")
    endif()
endforeach()
if(NOT decompiled MATCHES "Has 6 elements")
    message(FATAL_ERROR "the icon group does not hold exactly six images")
endif()
