# Runs the counter's tour into a fresh folder and checks what it leaves there.
file(REMOVE_RECURSE ${DIR})
execute_process(COMMAND ${COUNTER} --tour ${DIR} RESULT_VARIABLE status OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the tour failed (${status}):\n${out}\n${err}")
endif()
# A newcomer's first run shows the tour's own lines only: nothing of what the offscreen
# platform lacks ("This plugin does not support propagateSizeHints()" and the like).
if(NOT err STREQUAL "")
    message(FATAL_ERROR "the tour printed besides its own lines:\n${err}")
endif()
foreach(f summary.txt transcript.jsonl)
    if(NOT EXISTS ${DIR}/${f})
        message(FATAL_ERROR "the tour left no ${f}:\n${out}")
    endif()
endforeach()
# Pictures are numbered in the order taken; each is checked by its name.
foreach(f login counter menu 730105 730105-paged 730105-conditions 730105-branch-9
          730101 730101-asset-account 730101-shareholder-account 730101-fund-card
          730101-bank-card 730101-client-number 730101-picked-fund-account
          730101-status-message 730101-abnormal-status 730102 730102-client 730102-review
          730103 730103-client 730104 730104-client)
    file(GLOB found ${DIR}/[0-9][0-9]-${f}.png)
    if(NOT found)
        message(FATAL_ERROR "the tour left no picture ${f}:\n${out}")
    endif()
endforeach()
file(STRINGS ${DIR}/transcript.jsonl lines)
list(GET lines 0 first)
if(NOT first MATCHES "\"function\":100001" OR first MATCHES "pass1001")
    message(FATAL_ERROR "unexpected transcript: ${first}")
endif()
if(NOT out MATCHES "page 3: 60 rows, now 84" OR NOT out MATCHES "filtered by branch 9: 28 rows, 28 of them")
    message(FATAL_ERROR "the VIP list did not page or filter as expected:\n${out}")
endif()
foreach(line "资产账号 080000001 -> edit 80000001, panel: 80000001 张三"
             "股东账号 深A 123 -> edit 0000000123, panel: 80000001 张三"
             "资金卡号 6200003 -> edit 6200003, panel: 80000003 李四"
             "银行卡号 6222000011112222 -> edit 6222000011112222, panel: 80000001 张三"
             "fund accounts offered: 80000001 80000002, picking 80000002"
             "客户编号 100001 -> edit 100001, panel: 80000002 张三"
             "sync type 0|全部" "sync type 1|资金" "sync type 2|股份"
             "信息: 该客户资金账户状态为  挂失!!" "信息: 该客户客户号状态为  冻结!!")
    string(FIND "${out}" "${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the sync request tour did not show \"${line}\":\n${out}")
    endif()
endforeach()
foreach(line "functions opened: 5 of 5"
             "警告: 该VIP客户已开户!"
             "资产账号 80000001 -> panel: 80000001 张三 身份证 440301198001010011 普通客户 散户大厅 正常, rate 1.00, 确定 enabled"
             "错误信息:复核柜员密码错误"
             "after a wrong password the review dialog is still open"
             "reviewer 1002 signs with his password, 确认"
             "review dialog \"临柜复核\": 取消"
             "form \"VIP客户销户\", hint \"会自动去除该客户的委托方式 'Z'\", rate hidden"
             "警告: 该VIP客户未开户!"
             "资产账号 80000008 -> panel: 80000008 周九 港澳居民来往内地通行证 H01234567 机构客户 一号室 正常, rate 0.90"
             "佣金折扣[0.00]无效")
    string(FIND "${out}" "${line}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the VIP tour did not show \"${line}\":\n${out}")
    endif()
endforeach()
string(REGEX MATCHALL "信息: 操作成功！" done "${out}")
list(LENGTH done doneCount)
if(NOT doneCount EQUAL 4)
    message(FATAL_ERROR "the tour carried out ${doneCount} VIP requests, not 4:\n${out}")
endif()
# The granted review: the reviewer's request, then the open resent with audit_action "2".
file(STRINGS ${DIR}/transcript.jsonl reviews REGEX "\"function\":360042,")
file(STRINGS ${DIR}/transcript.jsonl resent
     REGEX "\"function\":730001,.*\\[\"discount_rate\",\"0.45\"\\],\\[\"audit_action\",\"2\"\\]")
if(NOT reviews OR NOT resent)
    message(FATAL_ERROR "the transcript holds no granted review and its resend")
endif()
string(REGEX MATCHALL "发送同步请求成功" sent "${out}")
list(LENGTH sent sentCount)
if(NOT sentCount EQUAL 3)
    message(FATAL_ERROR "the tour sent ${sentCount} sync requests, not 3:\n${out}")
endif()
message(STATUS "${out}")
