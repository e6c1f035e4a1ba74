add_library(bsa_ansi STATIC AnsiCodePage.cpp)
target_include_directories(bsa_ansi PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bsa_ansi PUBLIC Qt6::Core)
