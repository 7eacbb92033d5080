# Included from tests/app/CMakeLists.txt. app/CMakeLists.txt normally defines pinglark_login
# first; until it does, define it here so that the suite still builds.
if(NOT TARGET pinglark_login)
    include(${CMAKE_CURRENT_LIST_DIR}/../../app/LaunchAtLogin.cmake)
endif()
pinglark_add_test(tst_launchatlogin SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_launchatlogin.cpp
    LIBS pinglark_login)
