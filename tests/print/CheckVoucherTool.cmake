# marlo-voucher from the command line: the codes of a counter without uservouc.ini and of
# an OKI printer, and a print into a file through the sample settings.
set(work ${WORK}/voucher-tool)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work}/none ${work}/oki)

function(expect_output dir expected)
    execute_process(COMMAND ${TOOL} codes --dir ${dir}
        OUTPUT_VARIABLE out RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
        message(FATAL_ERROR "codes --dir ${dir} gave (${status}):\n${out}\nexpected:\n${expected}")
    endif()
endfunction()

expect_output(${work}/none [=[type: EPSON
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

file(WRITE ${work}/oki/uservouc.ini "[printer]\nprinttype=OKI\n")
expect_output(${work}/oki [=[type: OKI
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

file(WRITE ${work}/voucher.txt "证券交割单\n客户 张敏\n")
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
