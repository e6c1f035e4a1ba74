add_library(bsa_net STATIC BSAServer.cpp BSAConnection.cpp BSAClient.cpp SocketError.cpp)
target_include_directories(bsa_net PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bsa_net PUBLIC Qt6::Network bsa_codec)
