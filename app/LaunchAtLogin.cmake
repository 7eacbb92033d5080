# Launch at login: the login items list and the XDG autostart file that follows it.
# Included from app/CMakeLists.txt; kept apart so that it builds and is tested on its own.
add_library(pinglark_login STATIC
    ${CMAKE_CURRENT_LIST_DIR}/LaunchAtLogin.cpp ${CMAKE_CURRENT_LIST_DIR}/LaunchAtLogin.h
)
target_include_directories(pinglark_login PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(pinglark_login PUBLIC pinglark_platform Qt6::Core)
