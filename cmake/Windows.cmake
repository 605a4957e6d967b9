# The module for Windows, cross-built with mingw-w64: the module C_Marlo.dll, its runtime,
# the module's tests that need no back office and, for 64-bit, a counter host with the
# scripted and transcript transports. Qt for Windows comes as a prebuilt tree
# (scripts/windows-qt makes one), unpacked into the build tree.

if(DEFINED ENV{MARLO_QT_MINGW_DIR})
    set(qtMingwDefault $ENV{MARLO_QT_MINGW_DIR})
else()
    set(qtMingwDefault ${CMAKE_SOURCE_DIR}/../shared/qt-mingw)
endif()
set(MARLO_QT_MINGW_DIR ${qtMingwDefault} CACHE PATH
    "The folder of the Qt-for-mingw archives qt-6.4.2-mingw-{x86_64,i686}.tar.xz")
set(MARLO_QT_MINGW_VERSION 6.4.2)

set(qtName qt-${MARLO_QT_MINGW_VERSION}-mingw-${CMAKE_SYSTEM_PROCESSOR})
set(qtRoot ${CMAKE_BINARY_DIR}/qt/${qtName})
if(NOT EXISTS ${qtRoot}/lib/cmake/Qt6/Qt6Config.cmake)
    set(qtArchive ${MARLO_QT_MINGW_DIR}/${qtName}.tar.xz)
    if(NOT EXISTS ${qtArchive})
        message(FATAL_ERROR "No Qt for Windows at ${qtArchive}: make it with scripts/windows-qt "
                            "and set MARLO_QT_MINGW_DIR to its folder.")
    endif()
    message(STATUS "Unpacking ${qtArchive}")
    file(ARCHIVE_EXTRACT INPUT ${qtArchive} DESTINATION ${CMAKE_BINARY_DIR}/qt)
endif()
set(MARLO_QT_ROOT ${qtRoot})
list(APPEND CMAKE_PREFIX_PATH ${qtRoot})
list(APPEND CMAKE_FIND_ROOT_PATH ${qtRoot})
# The tree's moc, rcc and uic are the host's own, of the same version.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")

find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets PrintSupport Network)

add_subdirectory(src/host)
add_subdirectory(src)

if(BUILD_TESTING)
    find_package(Qt6 REQUIRED COMPONENTS Test)
    # GoogleTest from the sources Debian's googletest package ships, built for the target.
    include(FetchContent)
    FetchContent_Declare(GTest SOURCE_DIR /usr/src/googletest OVERRIDE_FIND_PACKAGE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    FetchContent_MakeAvailable(GTest)
    enable_testing()
    include(cmake/WindowsTests.cmake)
endif()
