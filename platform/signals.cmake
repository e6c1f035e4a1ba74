add_library(bsa_signals STATIC TerminationSignals.cpp)
target_include_directories(bsa_signals PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bsa_signals PUBLIC Qt6::Core)
