# The module's tests, for Windows. They run under the platform's own window system
# (scripts/windows-test runs them under wine on an X display), so each binary is a plain
# program with the usual test main. There is no back office here: a test that talks to one
# is answered from the replies the same test recorded on the real back office
# (tests/RecordedReplies.h), which windows-test has the Linux build record into replies/.
add_subdirectory(protocol)
add_subdirectory(counter)

add_library(marlo_testmain STATIC tests/TestMain.cpp)
target_link_libraries(marlo_testmain PUBLIC GTest::gtest GTest::gmock Qt6::Widgets)

function(marlo_windows_test name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE marlo_testmain)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE SCREEN_DIR="screens" MARLO_REPLAYED_BACK_OFFICE)
endfunction()

marlo_windows_test(host_tests tests/host/VariantTest.cpp tests/host/HostBoundaryTest.cpp)
target_link_libraries(host_tests PRIVATE marlo_hostclient marlo_hostobjects)

marlo_windows_test(controls_tests tests/controls/ControlsTest.cpp)
target_link_libraries(controls_tests PRIVATE c_marlo_core marlo_hostobjects Qt6::Test)
target_compile_definitions(controls_tests PRIVATE WAIT_AVI="Wait.avi" RLE8_AVI="rle8.avi")
configure_file(fuzz/corpus/fuzz_avi/rle8.avi ${CMAKE_BINARY_DIR}/bin/rle8.avi COPYONLY)

marlo_windows_test(account_tests tests/account/ToolsTest.cpp tests/account/AccountServicesTest.cpp
    tests/account/AccountRepliesTest.cpp)
target_link_libraries(account_tests PRIVATE c_marlo_core marlo_counterapp)

# The forms' framework with the scripted host; the form tests' pictures go to screens/.
marlo_windows_test(framework_tests tests/framework/FormTest.cpp tests/framework/ListsTest.cpp
    tests/framework/PipelineTest.cpp)
target_link_libraries(framework_tests PRIVATE c_marlo_core marlo_counterapp Qt6::Test)

marlo_windows_test(forms_tests tests/forms/QueryVipInfoTest.cpp tests/forms/ClientSyncReqTest.cpp
    tests/forms/ClientmodiTest.cpp)
target_link_libraries(forms_tests PRIVATE c_marlo_core marlo_counterapp Qt6::Test)

qt_add_binary_resources(entry_test_library tests/entry/TestLibrary.qrc
    DESTINATION ${CMAKE_BINARY_DIR}/bin/TestLibrary.rcc)
marlo_windows_test(entry_tests tests/entry/LifecycleTest.cpp tests/entry/EntryTest.cpp)
target_link_libraries(entry_tests PRIVATE c_marlo_core marlo_hostobjects)
add_dependencies(entry_tests entry_test_library)
target_compile_definitions(entry_tests PRIVATE TEST_RESOURCE_LIBRARY="TestLibrary.rcc")

marlo_windows_test(print_tests tests/print/SettingsTest.cpp tests/print/DriverTest.cpp
    tests/print/PreviewTest.cpp)
target_link_libraries(print_tests PRIVATE c_marlo_core Qt6::Test)
