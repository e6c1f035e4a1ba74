add_library(bsa_db STATIC Database.cpp DbConnectionString.cpp PlanningSchema.cpp)
target_include_directories(bsa_db PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bsa_db PUBLIC Qt6::Core bsa_values PRIVATE Qt6::Sql bsa_codec)
# The SQLite schema is built into the program, so the file a DBA reads is the one the link runs.
qt_add_resources(bsa_db bsa_db_schema
    PREFIX /sql
    BASE ${PROJECT_SOURCE_DIR}/sql
    FILES ${PROJECT_SOURCE_DIR}/sql/sqlite/schema.sql)
