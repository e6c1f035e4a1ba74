# The operator log, its archives and the working folders (Qt Core only).
add_library(bsa_oplog STATIC OperatorLog.cpp WorkingFolders.cpp)
target_include_directories(bsa_oplog PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bsa_oplog PUBLIC Qt6::Core PRIVATE bsa_codec bsa_values)
