add_library(bsa_settings STATIC Settings.cpp)
target_include_directories(bsa_settings PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bsa_settings PUBLIC Qt6::Core)
