# marlo-voucher from the command line, as a branch's IT person uses it: the codes of a
# counter without uservouc.ini and of an OKI printer, the warnings about a file the module
# reads in silence, prints that print nothing, and prints into a file and through a file
# standing for the port.
set(work ${WORK}/voucher-tool)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/none ${work}/oki ${work}/typo ${work}/utf16 ${work}/file
     ${work}/nodev ${work}/capture)

set(note [=[note: print does not send these codes. Straight to the device (PrintMethod=1)
      it sends the driver's EPSON init code 27 64 28 38 whatever PRINTTYPE
      says; the system printer (0) and a file (2) get the text only.
]=])

function(expect_codes dir expected)
    execute_process(COMMAND ${TOOL} codes --dir ${dir}
        OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT out STREQUAL "${expected}${note}")
        message(FATAL_ERROR "codes --dir ${dir} gave (${status}):\n${out}\nexpected:\n${expected}${note}")
    endif()
    set(warnings "${err}" PARENT_SCOPE)
endfunction()

# Each line the tool writes is in one language: the module's Chinese words, or the tool's
# English ones. A line that holds Chinese and English prose (two words in a row) mixes them.
function(expect_one_language what output)
    string(REPLACE "\n" ";" lines "${output}")
    foreach(line IN LISTS lines)
        string(REGEX MATCH "[^\t\r -~]" chinese "${line}")
        string(REGEX MATCH "[A-Za-z]+ [A-Za-z]+" english "${line}")
        if(NOT chinese STREQUAL "" AND NOT english STREQUAL "")
            message(FATAL_ERROR "${what} mixes two languages in one line:\n${line}")
        endif()
    endforeach()
endfunction()

function(expect_line what output line)
    # The line ends of the messages' own texts (CR LF) count as one.
    string(REPLACE "\r" "" output "${output}")
    string(FIND "\n${output}" "\n${line}\n" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "${what} has no line '${line}' in:\n${output}")
    endif()
endfunction()

function(expect_warning warnings text)
    string(FIND "${warnings}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "no warning '${text}' in:\n${warnings}")
    endif()
endfunction()

set(epson [=[type: EPSON
typecode: 3
init: 27 64 28 38
autolink:
doublesize: 27 14
resetsize:
cut:
pagelength: 27 67 16
pageend: 27 74 16
leftmargin: 27 108 7
]=])

expect_codes(${work}/none "settings: no uservouc.ini in ${work}/none; the defaults apply\n${epson}")
expect_codes(${work}/missing
    "settings: no uservouc.ini in ${work}/missing (no such folder); the defaults apply\n${epson}")

file(WRITE ${work}/oki/uservouc.ini "[printer]\nprinttype=OKI\n")
set(oki [=[type: OKI
typecode: 1
init: 27 36 64 27 107 27 53 27 68
autolink:
doublesize: 27 85
resetsize: 27 82
cut:
pagelength: 27 70 1 6
pageend: 12 27 37 53 11
leftmargin: 27 40 19 6
]=])
expect_codes(${work}/oki "settings: ${work}/oki/uservouc.ini\n${oki}")
if(NOT warnings STREQUAL "")
    message(FATAL_ERROR "a sound file gave warnings:\n${warnings}")
endif()

# A misspelt key, flags that are no 0/1, a size that is no number, a code that is none:
# the defaults apply, and each is named with its line.
file(WRITE ${work}/typo/uservouc.ini
    "[PRINTER]\nPRINTYPE=OKI\nSINGLE=yes\nHIGHSPEED=true\nINITPRINT=2\nWidth=15cm\n"
    "[PrintSet]\nFontSize=大\n")
expect_codes(${work}/typo "settings: ${work}/typo/uservouc.ini\n${epson}")
expect_warning("${warnings}" "line 2: [PRINTER] has no key PRINTYPE; it is not read")
expect_warning("${warnings}" "line 3: SINGLE=yes is not 0 or 1; the default 0 applies")
expect_warning("${warnings}" "line 4: HIGHSPEED=true is not 0 or 1; the default 1 applies")
expect_warning("${warnings}" "line 5: INITPRINT=2 is not 0 or 1; it reads as 1")
expect_warning("${warnings}" "line 6: Width=15cm is not a number")
expect_warning("${warnings}" "line 8: FontSize=大 is not a whole number")

# UTF-16 (a byte order mark, then NUL bytes in every character).
file(WRITE ${work}/utf16/uservouc.ini "placeholder")
execute_process(COMMAND iconv -f UTF-8 -t UTF-16 INPUT_FILE ${work}/oki/uservouc.ini
    OUTPUT_FILE ${work}/utf16/uservouc.ini RESULT_VARIABLE status)
expect_codes(${work}/utf16 "settings: ${work}/utf16/uservouc.ini\n${epson}")
expect_warning("${warnings}" "line 1: the file is UTF-16")

# Printing nothing is a failure with its reason: no file name (no --out, no terminal).
file(WRITE ${work}/voucher.txt "证券交割单\n客户 张敏\n")
file(WRITE ${work}/file/uservouc.ini "[PrintSet]\nPrintMethod=2\n")
execute_process(COMMAND ${TOOL} print ${work}/voucher.txt --dir ${work}/file
    INPUT_FILE /dev/null RESULT_VARIABLE status ERROR_VARIABLE err)
if(status EQUAL 0)
    message(FATAL_ERROR "print without --out gave (${status}) ${err}")
endif()
expect_line("print without --out" "${err}"
    "marlo-voucher: nothing was printed: no file name was given (no --out and no terminal)")
expect_one_language("print without --out" "${err}")

# A full disk is a failure too.
execute_process(COMMAND ${TOOL} print ${work}/voucher.txt --dir ${work}/file --out /dev/full
    INPUT_FILE /dev/null RESULT_VARIABLE status ERROR_VARIABLE err)
if(status EQUAL 0)
    message(FATAL_ERROR "print to /dev/full gave (${status}) ${err}")
endif()
expect_line("print to /dev/full" "${err}" "marlo-voucher: 写文件 /dev/full 出错。")
expect_line("print to /dev/full" "${err}" "details: No space left on device")
expect_one_language("print to /dev/full" "${err}")

# A device that cannot be opened is named with the reason in the question; the system's
# words follow as its details, and the tool's own line says why nothing was printed.
file(WRITE ${work}/nodev/uservouc.ini "[PRINTER]\nDEVICE=${work}/none/lp9/x\n[PrintSet]\nPrintMethod=1\n")
execute_process(COMMAND ${TOOL} print ${work}/voucher.txt --dir ${work}/nodev
    INPUT_FILE /dev/null RESULT_VARIABLE status ERROR_VARIABLE err)
if(status EQUAL 0)
    message(FATAL_ERROR "print on a missing device gave (${status}) ${err}")
endif()
expect_line("print on a missing device" "${err}" "无法打开打印机端口 ${work}/none/lp9/x：没有这个设备。")
expect_line("print on a missing device" "${err}"
    "details: open ${work}/none/lp9/x: No such file or directory")
expect_line("print on a missing device" "${err}"
    "marlo-voucher: nothing was printed: the question above was answered No (no terminal)")
expect_one_language("print on a missing device" "${err}")

# A file stands for the port: the raw bytes a printer would get, run after run.
file(WRITE ${work}/capture/uservouc.ini
    "[PRINTER]\nDEVICE=${work}/capture/raw.bin\n[PrintSet]\nPrintMethod=1\n")
foreach(run 1 2)
    execute_process(COMMAND ${TOOL} print ${work}/voucher.txt --dir ${work}/capture
        INPUT_FILE /dev/null RESULT_VARIABLE status ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "print into a capture file gave (${status}) ${err}")
    endif()
endforeach()
file(READ ${work}/capture/raw.bin raw HEX)
# ESC @ FS & CR LF, the two lines in GB18030 with CR LF, the page's CR; twice.
set(once "1b401c260d0ad6a4c8afbdbbb8eeb5a50d0abfcdbba720d5c5c3f40d0a0d")
if(NOT raw STREQUAL "${once}${once}")
    message(FATAL_ERROR "the capture file holds ${raw}")
endif()
file(WRITE ${work}/capture/uservouc.ini "[PRINTER]\nDEVICE=/dev/null\n[PrintSet]\nPrintMethod=1\n")
execute_process(COMMAND ${TOOL} print ${work}/voucher.txt --dir ${work}/capture
    INPUT_FILE /dev/null RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "print to /dev/null gave (${status}) ${err}")
endif()

execute_process(COMMAND ${TOOL} print ${work}/voucher.txt --dir ${SAMPLE_DIR}
                        --out ${work}/printed.txt
    RESULT_VARIABLE status ERROR_VARIABLE err)
file(READ ${work}/printed.txt printed)
if(NOT status EQUAL 0 OR NOT printed STREQUAL "证券交割单\n客户 张敏\n")
    message(FATAL_ERROR "print gave (${status}) '${printed}' ${err}")
endif()

execute_process(COMMAND ${TOOL} codes extra RESULT_VARIABLE status ERROR_QUIET)
if(NOT status EQUAL 2)
    message(FATAL_ERROR "a wrong command line gave ${status}, not the usage")
endif()
