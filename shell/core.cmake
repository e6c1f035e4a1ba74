add_library(bsa_shell STATIC Koppeling.cpp)
target_include_directories(bsa_shell PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bsa_shell PUBLIC bsa_settings bsa_oplog bsa_intake bsa_net bsa_db)

add_executable(KorvelBSA main.cpp HeadlessRun.cpp)
target_link_libraries(KorvelBSA PRIVATE bsa_shell bsa_signals)
set_target_properties(KorvelBSA PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
